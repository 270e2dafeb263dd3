// GetTopology: the modules' buddy lists (GET_TOPOLOGY), the announcements of the modules on the
// PC's switch, and every module's left and right neighbour (GET_NEIGHBORS).
#include "discovery/topology_protocol.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "base/format.h"
#include "comm/event_log.h"
#include "discovery/discover.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "platform/tick.h"

namespace discovery {
namespace {

constexpr uint32_t kPollPauseMs = 2;
constexpr uint32_t kTopologyPollReadMs = 10;
constexpr char kManagementTag[4] = {'M', 'G', 'M', 'T'};

bool IsZeroMac(const MacAddress& mac) {
  return std::all_of(mac.begin(), mac.end(), [](uint8_t b) { return b == 0; });
}

bool HasBuddy(const CNode_Data& node, const CNode_Data* buddy) {
  return std::any_of(
      node.buddies.begin(), node.buddies.end(),
      [buddy](const std::weak_ptr<CNode_Data>& b) { return b.lock().get() == buddy; });
}

// Sends the frame three times: send, log, 5 ms, send, 10 ms, send. False when a send failed.
bool SendThreeTimes(platform::CaptureHandle& handle, const std::vector<uint8_t>& frame,
                    const char* sentLine) {
  DiscoverEnvironment& env = Environment();
  if (!handle.Send(frame.data(), frame.size())) {
    LogError("pcap_sendpacket was FAILED: %s", handle.LastError().c_str());
    return false;
  }
  LogInfo("%s", sentLine);
  const uint32_t pauses[] = {5, 10};
  for (uint32_t pause : pauses) {
    env.Sleep(pause);
    if (!handle.Send(frame.data(), frame.size())) {
      LogError("pcap_sendpacket was FAILED: %s", handle.LastError().c_str());
      return false;
    }
  }
  return true;
}

// Reads frames until `end()` (re-evaluated after every frame) is reached or `done()` holds:
// pause 2 ms, then read for up to 10 ms, as every topology receiver polls.
template <typename End, typename Done, typename OnFrame>
void Poll(platform::CaptureHandle& handle, End end, Done done, OnFrame onFrame) {
  DiscoverEnvironment& env = Environment();
  std::vector<uint8_t> frame;
  for (;;) {
    uint32_t now = env.Now();
    if (done() || platform::TickReached(now, end())) return;
    env.Sleep(std::min(kPollPauseMs, end() - now));
    const uint32_t pollStart = env.Now();
    for (;;) {
      now = env.Now();
      const uint32_t until = end();
      if (done() || platform::TickReached(now, until)) return;
      const uint32_t polled = now - pollStart;
      if (polled >= kTopologyPollReadMs) break;
      if (!handle.Read(frame, std::min(kTopologyPollReadMs - polled, until - now))) break;
      onFrame(frame, env.Now());
    }
  }
}

}  // namespace

uint32_t TopologyOverallLimitMs(size_t nodeCount) {
  const uint64_t perNodes = static_cast<uint64_t>(kTopologyLimitPerNodeMs) * nodeCount;
  return static_cast<uint32_t>(std::max<uint64_t>(perNodes, kTopologyMinimumLimitMs));
}

uint32_t TopologyPhaseEnd(uint32_t phaseStart, uint32_t quietMs,
                          const std::optional<uint32_t>& lastAnswer, uint32_t overallEnd) {
  const uint32_t rule =
      lastAnswer ? *lastAnswer + kAfterLastTopologyAnswerMs : phaseStart + quietMs;
  return static_cast<int32_t>(rule - overallEnd) < 0 ? rule : overallEnd;
}

std::array<uint8_t, 16> MakeManagementQuery(uint8_t code, uint32_t sequence) {
  std::array<uint8_t, 16> payload{};
  PutPacketHeader(payload.data(), code, 0, 8, sequence);
  std::memcpy(payload.data() + 8, kManagementTag, 4);
  base::PutBE32(payload.data() + 12, kManagementQueryValue);
  return payload;
}

std::array<uint8_t, 16> MakeNodeCommand(uint8_t code, uint32_t serial, uint32_t addressNetworkOrder,
                                        uint32_t sequence) {
  std::array<uint8_t, 16> payload{};
  PutPacketHeader(payload.data(), code, 0, 8, sequence);
  base::PutBE32(payload.data() + 8, serial);
  std::memcpy(payload.data() + 12, &addressNetworkOrder, 4);
  return payload;
}

std::array<uint8_t, 8> MakeHeaderOnly(uint8_t code, uint32_t sequence) {
  return MakePacketHeader(code, 0, 0, sequence);
}

std::vector<uint32_t> ParseTopologyEntries(const AnswerPacket& packet) {
  std::vector<uint32_t> serials;
  if (packet.data == nullptr) return serials;
  const size_t count = packet.dataLength / kTopologyEntryLength;
  for (size_t i = 0; i < count; ++i) {
    serials.push_back(base::GetBE32(packet.data + i * kTopologyEntryLength));
  }
  return serials;
}

std::optional<NeighborsAnswer> ParseNeighborsAnswer(const AnswerPacket& packet) {
  if (packet.data == nullptr || packet.dataLength < kNeighborsAnswerLength) return std::nullopt;
  NeighborsAnswer answer;
  answer.leftPort = packet.data[0];
  std::memcpy(answer.leftMac.data(), packet.data + 1, 6);
  answer.rightPort = packet.data[7];
  std::memcpy(answer.rightMac.data(), packet.data + 8, 6);
  return answer;
}

std::string DecimalMacText(const MacAddress& mac) {
  return base::Format("%02d:%02d:%02d:%02d:%02d:%02d", mac[0], mac[1], mac[2], mac[3], mac[4],
                      mac[5]);
}

void ForgetLearntWiring(NodeList& nodes) {
  const CNode_Data fresh;
  for (const NodePtr& node : nodes) {
    node->topologyAnswered = 0;
    node->neighborsAnswered = 0;
    node->buddies.clear();
    node->leftMac = fresh.leftMac;
    node->rightMac = fresh.rightMac;
    node->leftPort = fresh.leftPort;
    node->rightPort = fresh.rightPort;
    node->leftSerial = fresh.leftSerial;
    node->rightSerial = fresh.rightSerial;
  }
}

// ---- TopologyRun ----

bool TopologyRun::AllAnswered() const {
  std::lock_guard guard(lock_);
  return topologyAnswers_ >= nodes_.size();
}

NodePtr TopologyRun::AnsweringNode(const CandidateFrame& frame) const {
  if (NodePtr node = FindNodeByMacIn(frame.sourceMac, nullptr, nodes_)) return node;
  return FindNodeByIp(base::Ipv4Text(frame.sourceIpv4), nullptr, nodes_);
}

void TopologyRun::OnTopologyFrame(const uint8_t* frame, size_t length, uint32_t now) {
  const auto answer = ParseCapturedAnswer(frame, length, 0);
  if (!answer) return;
  if (answer->frame.destinationPort == kModulePort) {
    OnAnnouncement(*answer);
  } else if (answer->frame.destinationPort == kTopologyPort) {
    OnTopologyAnswer(*answer, now);
  }
}

void TopologyRun::OnAnnouncement(const CapturedAnswer& answer) {
  const AnswerPacket& packet = answer.packet;
  if (packet.code != kPacketDiscover) {
    LogInfo("\n !!!!! IGNORING UDP packet from %s with PacketCode = %i, during GET_TOPOLOGY\n",
            base::Ipv4Text(answer.frame.sourceIpv4).c_str(), packet.code);
    return;
  }
  // The record is read up to its address: a shorter one carries no announcement.
  if (packet.dataLengthByte < 8 || packet.dataLength < 8) return;
  const auto record =
      ParseNodeRecord(packet.data, std::min(packet.dataLength, kMaxStoredRecordLength));
  if (!record) return;
  const uint8_t* ip = reinterpret_cast<const uint8_t*>(&record->ipAddress);
  LogInfo("   - Got a discover answer from node: %d.%d.%d.%d\n", ip[0], ip[1], ip[2], ip[3]);
  std::lock_guard guard(lock_);
  const NodePtr node = FindNodeBySerial(record->serialNumber, nullptr, nodes_);
  if (!node) return;
  TakeChangedMac(*node, answer.frame.sourceMac);
  node->linkedToPcSwitch = 1;
  LogInfo("\n NOTE: Found device %s, %u -> Linked_To_PC_Switch!!!!!\n ", node->ipText.c_str(),
          node->serialNumber);
  linked_ = true;
}

void TopologyRun::OnTopologyAnswer(const CapturedAnswer& answer, uint32_t now) {
  const AnswerPacket& packet = answer.packet;
  const std::string sender = base::Ipv4Text(answer.frame.sourceIpv4);
  LogInfo("\nGot Topology UDP packet with DataLen = %u...\n",
          static_cast<unsigned>(packet.dataLength));
  if (packet.code != kPacketTopologyAnswer) {
    LogInfo(
        "\n !!!!! IGNORING UDP packet from %s with PacketCode = %i, during GET_TOPOLOGY phase!\n",
        sender.c_str(), packet.code);
    return;
  }
  lastTopologyAnswer_ = now;
  LogInfo("\nOP_GET_TOPOLOGY answer from RemoteHostIP:\"%s\"!\n", sender.c_str());
  std::lock_guard guard(lock_);
  const NodePtr node = AnsweringNode(answer.frame);
  if (!node || node->topologyAnswered != 0) return;
  node->topologyAnswered = 1;
  ++topologyAnswers_;
  const std::vector<uint32_t> serials = ParseTopologyEntries(packet);
  LogInfo("\nTOPOLOGY ANSWER from node \"%s\" , return buddies list with %i nodes:\n",
          node->ipText.c_str(), static_cast<int>(serials.size()));
  for (uint32_t serial : serials) {
    const NodePtr buddy = FindNodeBySerial(serial, nullptr, nodes_);
    if (!buddy) {
      LogError(
          "The Buddy with SerNo.%u of the node \"%s\",%u does not exist in the "
          "Input(discovered) nodes array!?!\n",
          serial, node->ipText.c_str(), node->serialNumber);
      continue;
    }
    if (HasBuddy(*node, buddy.get())) {
      LogInfo(
          "\nCRITICAL ERROR!?! node \"%s\", return buddies list in which there is duplicated "
          "items (duplicate node with SerNo. = %i) !?!\n",
          node->ipText.c_str(), static_cast<int>(serial));
      continue;
    }
    const int index = static_cast<int>(node->buddies.size());
    node->buddies.push_back(buddy);
    LogInfo("\t buddy[%d] (SerNo. = %i)\n", index, static_cast<int>(serial));
  }
}

void TopologyRun::OnNeighborsFrame(const uint8_t* frame, size_t length, uint32_t now) {
  const auto answer = ParseCapturedAnswer(frame, length, kNeighborsPort);
  if (!answer || answer->packet.code != kPacketNeighborsAnswer) return;
  const std::string sender = base::Ipv4Text(answer->frame.sourceIpv4);
  LogInfo("\nGot NEIGHBORS UDP packet with DataLen = %u from RemoteHostIP:\"%s\"...\n",
          static_cast<unsigned>(answer->packet.dataLength), sender.c_str());
  // An answer too short for both ports and MAC addresses is no answer.
  const auto neighbours = ParseNeighborsAnswer(answer->packet);
  if (!neighbours) return;
  lastNeighborsAnswer_ = now;
  std::lock_guard guard(lock_);
  const NodePtr node = AnsweringNode(answer->frame);
  if (!node || node->neighborsAnswered != 0) return;
  node->neighborsAnswered = 1;
  node->leftPort = neighbours->leftPort;
  node->leftMac = neighbours->leftMac;
  node->rightPort = neighbours->rightPort;
  node->rightMac = neighbours->rightMac;
  LogInfo(
      " >> TOPOLOGY_MACs ANSWER from node %s : %u, return LeftMAC=\"%s\"-%d, RightMAC=\"%s\"-%d\n",
      node->ipText.c_str(), node->serialNumber, DecimalMacText(node->leftMac).c_str(),
      node->leftPort, DecimalMacText(node->rightMac).c_str(), node->rightPort);
  // An all-zero MAC means no module is cabled on that side; it must not match a node whose
  // MAC has not been learnt yet.
  std::string text;
  if (!IsZeroMac(node->leftMac)) {
    if (const NodePtr left = FindNodeByMacIn(node->leftMac, nullptr, nodes_)) {
      node->leftSerial = left->serialNumber;
      text = base::Format(" >>>>   =>          LeftNode.SerNo = %u", left->serialNumber);
    }
  }
  if (!IsZeroMac(node->rightMac)) {
    if (const NodePtr right = FindNodeByMacIn(node->rightMac, nullptr, nodes_)) {
      node->rightSerial = right->serialNumber;
      text += base::Format("%sRightNode.SerNo = %u", text.empty() ? " >>>>   =>          " : ", ",
                           right->serialNumber);
    }
  }
  if (!text.empty()) LogInfo("%s", text.c_str());
}

}  // namespace discovery

// ---- CMRegApp::GetTopology ----

int CMRegApp::GetTopology() {
  const AdapterPtr adapter = SelectedAdapter();
  if (!adapter) return 0;
  return GetTopology(adapter->nodes, adapter->lock);
}

int CMRegApp::GetTopology(NodeList& nodes, std::mutex& nodesLock) {
  using namespace discovery;
  const std::string device = SelectedAdapterName();
  if (device.empty()) return 0;
  const CAdapterInfo info = AdapterInfoFor(device);
  if (info.valid == 0) {
    prompt().Ask(
        "Netzwerkadapter nicht verfügbar. Erneut Finden aktivieren, um die Liste der Module "
        "erneut zu laden.",
        kProductTitle, base::PromptButtons::Ok, base::PromptIcon::Warning);
    return 0;
  }

  // 1. The request and the capture.
  UdpFrameAddress address;
  address.sourceMac = info.mac;
  address.sourceIpv4 = info.ipAddress;
  address.sourcePort = kTopologyPort;
  address.destinationPort = kModulePort;
  const auto topologyQuery = MakeManagementQuery(kPacketGetTopology, NextSequenceNumber());
  const auto topologyFrame = BuildUdpFrame(address, topologyQuery.data(), topologyQuery.size());
  CaptureHandlePtr handle = captureDriver().Open(device, kCaptureSnapLength, true, nullptr);
  if (!handle) return 0;

  size_t nodeCount = 0;
  {
    std::lock_guard guard(nodesLock);
    ForgetLearntWiring(nodes);
    nodeCount = nodes.size();
  }
  DiscoverEnvironment& env = Environment();
  TopologyRun run(nodes, nodesLock);

  // 2. and 3.
  const uint32_t firstSend = env.Now();
  const uint32_t overallEnd = firstSend + TopologyOverallLimitMs(nodeCount);
  if (!SendThreeTimes(*handle, topologyFrame,
                      "\nUDP packet PACKET_GET_TOPOLOGY broadcast - Sent!\n")) {
    return 0;
  }

  // 4. Phase 1.
  Poll(
      *handle,
      [&] {
        return TopologyPhaseEnd(firstSend, kTopologyNoAnswerMs, run.LastTopologyAnswer(),
                                overallEnd);
      },
      [&] { return run.AllAnswered(); },
      [&](const std::vector<uint8_t>& frame, uint32_t now) {
        run.OnTopologyFrame(frame.data(), frame.size(), now);
      });

  // 5. Phase 2, unless the overall limit has passed.
  if (!platform::TickReached(env.Now(), overallEnd)) {
    address.sourcePort = kNeighborsPort;
    const auto neighborsQuery = MakeManagementQuery(kPacketGetNeighbors, NextSequenceNumber());
    const auto neighborsFrame =
        BuildUdpFrame(address, neighborsQuery.data(), neighborsQuery.size());
    const uint32_t phaseStart = env.Now();
    if (SendThreeTimes(*handle, neighborsFrame,
                       "\nUDP packet PACKET_GET_NEIGHBORS broadcast - Sent!\n")) {
      Poll(
          *handle,
          [&] {
            return TopologyPhaseEnd(phaseStart, kNeighborsNoAnswerMs, run.LastNeighborsAnswer(),
                                    overallEnd);
          },
          [] { return false; },
          [&](const std::vector<uint8_t>& frame, uint32_t now) {
            run.OnNeighborsFrame(frame.data(), frame.size(), now);
          });
    }
  }

  // 6.
  handle.reset();
  return run.LinkedToPcSwitch() ? 1 : 0;
}
