// Discovery of the modules behind every adapter, the send helpers of the module protocol and
// the generic answer receiver.
#include "discovery/discover.h"

#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "base/bytes.h"
#include "base/format.h"
#include "comm/event_log.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "platform/capture_rights.h"
#include "platform/tick.h"

namespace discovery {
namespace {

constexpr uint32_t kPollPauseDiscoverMs = 2;
constexpr uint32_t kPollPauseReceiverMs = 5;
constexpr uint32_t kDiscoverPollReadMs = 10;
constexpr uint32_t kRecoveryPauseMs = 1000;

std::atomic<int> g_recoveryCounter{1};

// Whole discoveries do not overlap: two at once would mix their adapter bookkeeping. The same
// thread re-enters for the re-runs of the algorithm.
std::recursive_mutex& DiscoverLock() {
  static std::recursive_mutex lock;
  return lock;
}

uint32_t PauseFromTable(const uint32_t* table, size_t count, int sendIndex) {
  const size_t i = std::min(static_cast<size_t>(sendIndex), count - 1);
  return table[i];
}

// The thread runs above normal priority during a discovery where the system allows it.
class RaisedThreadPriority {
 public:
  RaisedThreadPriority() {
    tid_ = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int old = getpriority(PRIO_PROCESS, tid_);
    if (errno == 0) {
      old_ = old;
      raised_ = setpriority(PRIO_PROCESS, tid_, old - 1) == 0;
    }
  }
  ~RaisedThreadPriority() {
    if (raised_) setpriority(PRIO_PROCESS, tid_, old_);
  }

 private:
  id_t tid_ = 0;
  int old_ = 0;
  bool raised_ = false;
};

bool LooksLikeMissingRights(const std::string& error) {
  return error.find("ermission") != std::string::npos ||
         error.find("not permitted") != std::string::npos;
}

NodePtr CopyNodeFields(const CNode_Data& node) {
  return std::make_shared<CNode_Data>(node);
}

std::optional<platform::AdapterInfo> SystemAdapter(const std::string& name, bool* queryFailed) {
  const auto adapters = Environment().ListAdapters();
  if (queryFailed) *queryFailed = !adapters.has_value();
  if (!adapters) return std::nullopt;
  for (const auto& adapter : *adapters) {
    if (adapter.name == name) return adapter;
  }
  return std::nullopt;
}

// Everything a send on the selected adapter needs.
struct SelectedSendTarget {
  std::string device;
  CAdapterInfo info;
};

std::optional<SelectedSendTarget> SelectedTarget(CMRegApp& app, const char* warningFormat) {
  const std::string device = app.SelectedAdapterName();
  if (device.empty()) return std::nullopt;
  const uint32_t started = Environment().Now();
  const auto adapter = SystemAdapter(device, nullptr);
  const uint32_t took = Environment().Now() - started;
  if (warningFormat != nullptr && took > kDelayWarningMs) LogWarning(warningFormat, took);
  if (!adapter) return std::nullopt;
  return SelectedSendTarget{device, CAdapterInfo::FromSystem(*adapter)};
}

platform::CaptureHandle* EnsureOpen(CMRegApp& app, CaptureHandlePtr& handle,
                                    const std::string& device, const char* warningFormat) {
  if (handle) return handle.get();
  const uint32_t started = Environment().Now();
  std::string error;
  handle = app.captureDriver().Open(device, kCaptureSnapLength, true, &error);
  const uint32_t took = Environment().Now() - started;
  if (warningFormat != nullptr && took > kDelayWarningMs) LogWarning(warningFormat, took);
  return handle.get();
}

// Sends `frame` repeat times with the given pauses between the sends (none after the last).
// A failed send ends the loop: false, with the error in the log.
bool SendRepeated(platform::CaptureHandle& handle, const std::vector<uint8_t>& frame, int repeat,
                  const uint32_t* pauses, size_t pauseCount) {
  for (int i = 0; i < repeat; ++i) {
    if (!handle.Send(frame.data(), frame.size())) {
      LogError("pcap_sendpacket was FAILED: %s", handle.LastError().c_str());
      return false;
    }
    if (i + 1 < repeat && pauses != nullptr) {
      Environment().Sleep(PauseFromTable(pauses, pauseCount, i));
    }
  }
  return true;
}

constexpr uint32_t kNodePauses[] = {5, 30, 10};
constexpr uint32_t kNodeIpPauses[] = {5, 30};
constexpr uint32_t kCommandPauses[] = {50, 100, 200};

UdpFrameAddress AddressToNode(const CAdapterInfo& info, const CNode_Data* node, uint16_t srcPort,
                              uint16_t dstPort) {
  UdpFrameAddress address;
  address.sourceMac = info.mac;
  address.sourceIpv4 = info.ipAddress;
  address.sourcePort = srcPort;
  address.destinationPort = dstPort;
  if (node != nullptr) {
    if (node->HasMac()) {
      address.destinationMac = node->mac;
    } else {
      address.destinationIpv4 = node->ipAddress;
    }
  }
  return address;
}

// What a frame to a node needs of it, read under the lock of the adapter that holds the node
// (a discovery on another thread rewrites those fields). A node no adapter holds is the caller's
// own copy and is read as it is.
CNode_Data AddressingOf(CMRegApp& app, const CNode_Data& node) {
  CNode_Data addressing;
  for (const AdapterPtr& adapter : app.AdaptersSnapshot()) {
    std::lock_guard guard(adapter->lock);
    for (const NodePtr& held : adapter->nodes) {
      if (held.get() != &node) continue;
      addressing.mac = node.mac;
      addressing.ipAddress = node.ipAddress;
      return addressing;
    }
  }
  addressing.mac = node.mac;
  addressing.ipAddress = node.ipAddress;
  return addressing;
}

// A known node of the adapter with that address text, copied under the adapter's lock.
std::optional<CNode_Data> KnownNodeByIp(const AdapterPtr& adapter, const std::string& ipText) {
  if (!adapter) return std::nullopt;
  std::lock_guard guard(adapter->lock);
  const NodePtr node = FindNodeByIp(ipText, nullptr, adapter->nodes);
  if (!node) return std::nullopt;
  return *node;
}

// ---- Discover ----

// Reads the answers to one discover request until one of the end rules holds.
void CollectAnswers(platform::CaptureHandle& handle, CNAdapter& adapter, uint32_t sequence,
                    uint32_t collectMs) {
  DiscoverEnvironment& env = Environment();
  const uint32_t start = env.Now();
  bool anyAnswer = false;
  uint32_t lastAnswer = start;
  auto deadline = [&] {
    uint32_t end = start + collectMs;
    const uint32_t rule = anyAnswer ? lastAnswer + kAfterLastAnswerMs : start + kNoAnswerEndMs;
    if (static_cast<int32_t>(rule - end) < 0) end = rule;
    return end;
  };
  std::vector<uint8_t> frame;
  for (;;) {
    uint32_t now = env.Now();
    if (platform::TickReached(now, deadline())) return;
    env.Sleep(std::min(kPollPauseDiscoverMs, deadline() - now));
    const uint32_t pollStart = env.Now();
    for (;;) {
      now = env.Now();
      const uint32_t end = deadline();
      if (platform::TickReached(now, end)) return;
      const uint32_t polled = now - pollStart;
      if (polled >= kDiscoverPollReadMs) break;
      const uint32_t wait = std::min(kDiscoverPollReadMs - polled, end - now);
      if (!handle.Read(frame, wait)) break;
      const auto answer = ParseCapturedAnswer(frame.data(), frame.size(), kDiscoverPort);
      if (!answer) continue;
      const AnswerPacket& packet = answer->packet;
      if (packet.sequence != sequence) continue;
      if (packet.code != kPacketDiscoverAnswer && packet.code != kPacketDiscoverList1 &&
          packet.code != kPacketDiscoverList2) {
        continue;
      }
      if (packet.dataLengthByte < 8 || packet.dataLength < 8) continue;
      anyAnswer = true;
      lastAnswer = env.Now();
      const size_t recordLength = std::min(packet.dataLength, kMaxStoredRecordLength);
      const uint8_t* ip = reinterpret_cast<const uint8_t*>(&answer->frame.sourceIpv4);
      LogInfo(" > Got UDP packet with DataLen = %u, from %d.%d.%d.%d ...\n",
              static_cast<unsigned>(recordLength), ip[0], ip[1], ip[2], ip[3]);
      const auto record = ParseNodeRecord(packet.data, recordLength);
      if (!record) continue;
      MergeDiscoveryAnswer(adapter, NodeFromRecord(*record, answer->frame.sourceMac), recordLength,
                           packet.flags);
    }
  }
}

std::string RecoveryText(int failure) {
  std::string text = "Achtung, Urmigat kann keinen verfügbaren Netzwerkadapter finden.";
  if (failure == 1) {
    text +=
        "\r\nEs wird erneut versucht Netzwerkadapter zu finden.\r\nBitte auf \"Ja\" klicken, daß "
        "am Ende des Prozesses abgefragt wird.\r\n\r\n Auf OK klicken, um die Prozedur zu "
        "starten.";
  } else {
    text += " Bitte den Produktsupport kontaktieren.";
  }
  return text + "\r\n\r\n" + platform::CaptureRightsHelp();
}

}  // namespace

// ---- nodes from records ----

NodePtr NodeFromRecord(const NodeRecord& record, const MacBytes& sourceMac) {
  auto node = std::make_shared<CNode_Data>();
  node->mac = sourceMac;
  node->record = record.bytes;
  std::copy_n(record.bytes.begin(), CNode_Data::kRecordCopySize, node->recordCopy.begin());
  node->serialNumber = record.serialNumber;
  node->ipAddress = record.ipAddress;
  node->ipText = base::Ipv4Text(record.ipAddress);
  node->mask = record.mask;
  node->maskText = base::Ipv4Text(record.mask);
  node->gatewayText = base::Ipv4Text(record.gateway);
  node->revision = record.revision;
  return node;
}

NodePtr CopyNodeForList(const CNode_Data& node) {
  NodePtr copy = CopyNodeFields(node);
  const uint16_t revision = base::GetBE16(node.record.data() + 18);
  const size_t length = (revision == 0x0000 || revision == 0xFFFF) ? 16 : 28;
  uint8_t first60[60];
  std::memcpy(first60, node.record.data(), sizeof first60);
  const auto record = ParseNodeRecord(first60, length);
  copy->record = {};
  std::copy_n(record->bytes.begin(), length, copy->record.begin());
  copy->recordCopy = {};
  std::copy_n(record->bytes.begin(), CNode_Data::kRecordCopySize, copy->recordCopy.begin());
  copy->serialNumber = record->serialNumber;
  copy->mask = record->mask;
  copy->maskText = base::Ipv4Text(record->mask);
  copy->gatewayText = base::Ipv4Text(record->gateway);
  copy->revision = record->revision;
  // Address, MAC, flags and bookkeeping come from the node itself (already in the copy).
  copy->buddies.clear();
  return copy;
}

std::string AdapterEntry(const std::string& description, size_t nodes, base::Language language) {
  return base::Format(
      base::Translate(language, "Discovery", QM_TRANSLATE_NOOP("Discovery", "%s - (%d Knoten)")),
      description.c_str(), static_cast<int>(nodes));
}

CAdapterInfo AdapterInfoFor(const std::string& deviceName) {
  const auto adapter = SystemAdapter(deviceName, nullptr);
  if (!adapter) return CAdapterInfo{};
  return CAdapterInfo::FromSystem(*adapter);
}

int CaptureRecoveryCounter() {
  return g_recoveryCounter.load();
}
void ResetCaptureRecoveryCounterForTests() {
  g_recoveryCounter.store(1);
}

}  // namespace discovery

// ---- CMRegApp::Discover ----

int CMRegApp::Discover(bool allAdapters, std::vector<std::shared_ptr<CNode_Data>>* list) {
  using namespace discovery;
  std::lock_guard discoverGuard(DiscoverLock());
  DiscoverEnvironment& env = Environment();

  // 1. Only the selected adapter, but none is selected: discover them all.
  if (!allAdapters && SelectedAdapterName().empty()) return Discover(true, list);

  // 2.
  if (allAdapters) MarkAdaptersUnconfirmed();
  if (list != nullptr) list->clear();
  RaisedThreadPriority priority;

  // 3. The capture devices.
  platform::CaptureDeviceList devices = captureDriver().ListDevices();
  bool listed = devices.ok && !devices.devices.empty();
  if (!devices.ok) {
    LogError("WinPCAP AdapterBrowse was FAILED!");
  } else if (devices.devices.empty()) {
    LogError("WinPCAP AdapterBrowse was FAILED - null Ptr adapters !?!");
  }

  bool metSelected = false;
  int opened = 0;
  int deniedOpens = 0;
  if (listed) {
    const std::string selected = SelectedAdapterName();
    const auto systemAdapters = env.ListAdapters();
    int number = 0;
    // 4. Every device.
    for (const platform::CaptureDevice& device : devices.devices) {
      ++number;
      LogInfo("_discover %d- %s, Desc.%s, flags: 0x%X\n", number, device.name.c_str(),
              device.description.c_str(), device.flags);
      if (!allAdapters && device.name != selected) continue;
      if (device.name == selected) metSelected = true;
      std::optional<platform::AdapterInfo> system;
      if (systemAdapters) {
        for (const auto& adapter : *systemAdapters) {
          if (adapter.name == device.name) system = adapter;
        }
      }
      if (!system) {
        LogInfo(
            "_discover > GetAdapterInfo was failed for this adapter, continue with the next...");
        continue;
      }
      CAdapterInfo info = CAdapterInfo::FromSystem(*system);
      if (system->description.empty() && !device.description.empty()) {
        info.description = device.description;
      }
      const MacAddress& m = info.mac;
      LogInfo(
          "_discover >> Discovering nodes on adapter: %s...\n\t - MAC = "
          "%02X:%02X:%02X:%02X:%02X:%02X\n\t - IP = %s\n\t - Mask = %s\n",
          device.name.c_str(), m[0], m[1], m[2], m[3], m[4], m[5], info.addressText.c_str(),
          info.maskText.c_str());

      // 5. The request.
      const uint32_t sequence = NextSequenceNumber();
      const auto header = MakePacketHeader(kPacketDiscover, 0, 0, sequence);
      UdpFrameAddress address;
      address.sourceMac = info.mac;
      address.sourceIpv4 = info.ipAddress;
      address.sourcePort = kDiscoverPort;
      address.destinationPort = kModulePort;
      const auto frame = BuildUdpFrame(address, header.data(), header.size());

      // 6.
      std::string error;
      CaptureHandlePtr handle = captureDriver().Open(device.name, kCaptureSnapLength, true, &error);
      if (!handle) {
        LogError("> discover: Unable to open capturing on the adapter!?!");
        if (LooksLikeMissingRights(error)) ++deniedOpens;
        continue;
      }
      ++opened;

      // 7.
      const AdapterPtr adapter = BeginAdapterDiscovery(device.name, allAdapters);
      RefreshAdapterIdentity(*adapter, info.mac, device.name, info.description);

      // 8. Two sends 5 ms apart; a fast discovery sends a third and collects briefly.
      const bool fast = discoverDone.load() == 0;
      handle->Send(frame.data(), frame.size());
      env.Sleep(5);
      handle->Send(frame.data(), frame.size());
      if (fast) {
        env.Sleep(10);
        handle->Send(frame.data(), frame.size());
      }
      // 9.
      CollectAnswers(*handle, *adapter, sequence, fast ? kFastCollectMs : kNormalCollectMs);
      // 10.
      handle.reset();
      EndAdapterDiscovery(adapter, info, device);
    }
    // 11. (the device list is a value; nothing to free)
  }

  // Without capture rights the devices are listed but none can be opened: the same recovery.
  if (listed && opened == 0 && deniedOpens > 0) listed = false;
  if (listed) g_recoveryCounter.store(1);

  if (!listed) {
    const int failure = g_recoveryCounter.load();
    if (failure >= 3) return 0;
    g_recoveryCounter.store(failure + 1);
    prompt().Ask(RecoveryText(failure), kProductTitle, base::PromptButtons::Ok,
                 base::PromptIcon::Warning);
    env.Sleep(kRecoveryPauseMs);
    return Discover(allAdapters, list);
  }

  // 12. Adapter choice.
  if (allAdapters) {
    std::vector<std::string> entries;
    std::vector<std::string> names;
    {
      std::lock_guard guard(inventoryLock);
      bool newWithNodes = false;
      for (const auto& adapter : adapters) {
        if (adapter->isNew != 0 && adapter->NodeCount() > 0) newWithNodes = true;
      }
      if (selectedAdapter.empty() || newWithNodes) {
        for (const auto& adapter : adapters) {
          const size_t count = adapter->NodeCount();
          if (count == 0) {
            adapter->listIndex = -1;
            continue;
          }
          adapter->listIndex = static_cast<int32_t>(entries.size());
          // Shown in the user's language; the log keeps the German line.
          entries.push_back(AdapterEntry(adapter->description, count, base::CurrentLanguage()));
          names.push_back(adapter->name);
          LogInfo(">discover: %s found in adapter with index = %d",
                  AdapterEntry(adapter->description, count).c_str(), adapter->listIndex);
        }
        if (entries.size() == 1) selectedAdapter = names.front();
        if (entries.empty()) selectedAdapter.clear();
      }
    }
    if (entries.size() >= 2) {
      // The user chooses outside the inventory lock.
      const int chosen = prompt().ChooseAdapter(entries);
      std::lock_guard guard(inventoryLock);
      selectedAdapter.clear();
      for (const auto& adapter : adapters) {
        if (chosen >= 0 && adapter->listIndex == chosen) selectedAdapter = adapter->name;
      }
    }
  }

  // 13. Sorting and the caller's copy.
  if (!SortSelectedNodes()) {
    LogWarning("Strange - there is no one NetworkAdapter choosen !?!");
  } else if (list != nullptr) {
    if (const AdapterPtr adapter = SelectedAdapter()) {
      std::lock_guard guard(adapter->lock);
      for (const auto& node : adapter->nodes) list->push_back(CopyNodeForList(*node));
    }
  }

  // 14. Adapters that did not come back.
  if (allAdapters) {
    if (RemoveUnconfirmedAdapters()) return Discover(true, list);
  } else if (!metSelected) {
    return Discover(true, list);
  }

  // 15.
  discoverDone.store(1);
  return 1;
}

// ---- send helpers ----

namespace discovery {

platform::CaptureHandle* _send_UDP_to_Node(CMRegApp& app, CaptureHandlePtr& handle,
                                           const CNode_Data* node, const uint8_t* payload,
                                           size_t length, uint16_t dstPort, int repeat) {
  if (payload == nullptr) return nullptr;
  const auto target =
      SelectedTarget(app, "WARN. Get Adapter Info in _send_UDP_to_Node was DELAYED for %u ms. !!!");
  if (!target) return nullptr;
  platform::CaptureHandle* open =
      EnsureOpen(app, handle, target->device,
                 "WARN. pcap_open in _send_UDP_to_Node was DELAYED for %u ms. !!!");
  if (open == nullptr) return nullptr;
  std::optional<CNode_Data> addressing;
  if (node != nullptr) addressing = AddressingOf(app, *node);
  const auto frame = BuildUdpFrame(
      AddressToNode(target->info, addressing ? &*addressing : nullptr, kNodeCommandPort, dstPort),
      payload, length);
  return SendRepeated(*open, frame, repeat, kNodePauses, std::size(kNodePauses)) ? open : nullptr;
}

platform::CaptureHandle* _send_UDP_to_NodeIP(CMRegApp& app, CaptureHandlePtr& handle,
                                             const std::string& ipText, const uint8_t* payload,
                                             size_t length, uint16_t dstPort, int repeat) {
  if (payload == nullptr) return nullptr;
  const auto target = SelectedTarget(app, nullptr);
  if (!target) return nullptr;
  platform::CaptureHandle* open =
      EnsureOpen(app, handle, target->device,
                 "WARN. pcap_open in _send_UDP_to_NodeIP was DELAYED for %u ms. !!!");
  if (open == nullptr) return nullptr;
  std::optional<CNode_Data> node = KnownNodeByIp(app.SelectedAdapter(), ipText);
  if (!node) {
    // An address that is not one goes nowhere rather than to every module.
    uint32_t address = 0;
    if (!ParseAddress(ipText, &address)) return nullptr;
    node.emplace();
    node->ipAddress = address;
  }
  const auto frame = BuildUdpFrame(AddressToNode(target->info, &*node, kNodeCommandPort, dstPort),
                                   payload, length);
  return SendRepeated(*open, frame, repeat, kNodeIpPauses, std::size(kNodeIpPauses)) ? open
                                                                                     : nullptr;
}

int SendOnAllAdapters(CMRegApp& app, const std::string& ipText, const uint8_t* payload,
                      size_t length, uint16_t dstPort, int repeat) {
  if (payload == nullptr) return 0;
  const platform::CaptureDeviceList devices = app.captureDriver().ListDevices();
  if (!devices.ok) return 0;
  int sentOn = 0;
  for (const auto& device : devices.devices) {
    const CAdapterInfo info = AdapterInfoFor(device.name);
    if (info.valid == 0) continue;
    const std::optional<CNode_Data> node =
        KnownNodeByIp(app.FindAdapterByName(device.name), ipText);
    const auto frame = BuildUdpFrame(
        AddressToNode(info, node ? &*node : nullptr, kNodeCommandPort, dstPort), payload, length);
    CaptureHandlePtr handle =
        app.captureDriver().Open(device.name, kCaptureSnapLength, true, nullptr);
    if (!handle) continue;
    if (!SendRepeated(*handle, frame, repeat, kCommandPauses, std::size(kCommandPauses))) continue;
    if (repeat > 1) Environment().Sleep(30);
    ++sentOn;
  }
  return sentOn;
}

bool SendBroadcastCommand(CMRegApp& app, const uint8_t* payload, size_t length, uint16_t dstPort,
                          int repeat, bool noPause) {
  if (payload == nullptr) return false;
  const auto target = SelectedTarget(app, nullptr);
  if (!target) return false;
  CaptureHandlePtr handle;
  if (EnsureOpen(app, handle, target->device, nullptr) == nullptr) return false;
  const auto frame = BuildUdpFrame(
      AddressToNode(target->info, nullptr, kBroadcastCommandPort, dstPort), payload, length);
  return SendRepeated(*handle, frame, repeat, noPause ? nullptr : kCommandPauses,
                      std::size(kCommandPauses));
}

platform::CaptureHandle* SendRawFrame(CMRegApp& app, CaptureHandlePtr& handle, uint8_t* frame,
                                      size_t length, int repeat) {
  if (frame == nullptr || length < kEthernetHeaderLength) return nullptr;
  const auto target = SelectedTarget(app, nullptr);
  if (!target) return nullptr;
  platform::CaptureHandle* open = EnsureOpen(app, handle, target->device, nullptr);
  if (open == nullptr) return nullptr;
  std::memcpy(frame + 6, target->info.mac.data(), 6);
  const std::vector<uint8_t> bytes(frame, frame + length);
  return SendRepeated(*open, bytes, repeat, kCommandPauses, std::size(kCommandPauses)) ? open
                                                                                       : nullptr;
}

bool SendRawFrame(CMRegApp& app, uint8_t* frame, size_t length, int repeat) {
  CaptureHandlePtr handle;
  return SendRawFrame(app, handle, frame, length, repeat) != nullptr;
}

// ---- the PC's address for a module ----

bool AdapterAddressFor(CMRegApp& app, const std::string& targetText, std::string* address,
                       std::string* mask) {
  const std::string device = app.SelectedAdapterName();
  bool queryFailed = false;
  const auto adapter = device.empty() ? std::nullopt : SystemAdapter(device, &queryFailed);
  if (queryFailed) LogError("GetAdapterInfo_v4_2 was FAILED with errCode: 0x%x", errno);
  if (!adapter) return false;

  std::optional<platform::Ipv4Entry> chosen;
  uint32_t target = 0;
  const bool haveTarget = !targetText.empty() && ParseAddress(targetText, &target) && target != 0;
  if (haveTarget) {
    const uint32_t targetHost = ntohl(target);
    for (const auto& entry : adapter->addresses) {
      if ((ntohl(entry.address) >> 8) == (targetHost >> 8)) chosen = entry;  // the last one
    }
    if (!chosen) {
      for (const auto& entry : adapter->addresses) {
        if ((entry.address | ~entry.mask) == (target | ~entry.mask)) {
          chosen = entry;
          break;
        }
      }
    }
  } else {
    for (const auto& entry : adapter->addresses) {
      if (entry.address != 0) {
        chosen = entry;
        break;
      }
    }
  }
  const platform::Ipv4Entry fit = chosen.value_or(platform::Ipv4Entry{});
  if (address) *address = base::Ipv4Text(fit.address);
  if (mask) *mask = base::Ipv4Text(fit.mask);
  return true;
}

// ---- the generic receiver ----

namespace {

bool ActOnDiscoverAnswer(const CapturedAnswer& answer, NodeList* list) {
  const AnswerPacket& packet = answer.packet;
  if (packet.dataLength < 8) {
    LogInfo(
        "!!!!! IGNORING UDP DISCOVER responce packet - wrong Payload size %d, PacketLength = %i",
        packet.dataLengthByte, static_cast<int>(packet.udpDataLength));
    return false;
  }
  const auto record =
      ParseNodeRecord(packet.data, std::min(packet.dataLength, kMaxStoredRecordLength));
  NodePtr node = NodeFromRecord(*record, answer.frame.sourceMac);
  if (record->length >= 16) {
    LogInfo("PING1 broadcast from NodeIP:\"%s\", %u, packetFlags: 0x%X !", node->ipText.c_str(),
            node->serialNumber, packet.flags);
    node->packetFlags = packet.flags;
    node->direction = CNode_Data::DirectionFromFlags(packet.flags);
  } else {
    LogInfo("PING2 broadcast from NodeIP:\"%s\", %u", node->ipText.c_str(), node->serialNumber);
  }
  // Without a list the answer is only logged: it is not one the caller waits for.
  if (list == nullptr) return false;
  if (NodePtr known = FindNodeBySerial(node->serialNumber, nullptr, *list)) {
    TakeChangedMac(*known, answer.frame.sourceMac);
    LogInfo("!!!!! IGNORING UDP DISCOVER ... the device %u is already exist.", known->serialNumber);
  } else {
    list->push_back(node);
  }
  return true;
}

bool ActOnList(const CapturedAnswer& answer, NodeList* list) {
  const AnswerPacket& packet = answer.packet;
  const size_t count = packet.dataLength / kListRecordLength;
  for (size_t i = 0; i < count; ++i) {
    const auto record = ParseNodeRecord(packet.data + i * kListRecordLength, kListRecordLength);
    const NodePtr node = NodeFromRecord(*record, MacBytes{});
    LogInfo("PING3 broadcast from NodeIP:\"%s\", %u", node->ipText.c_str(), node->serialNumber);
    if (list != nullptr && !FindNodeBySerial(node->serialNumber, nullptr, *list)) {
      LogInfo("\t PING3 Add new NodeIP:\"%s\" !", node->ipText.c_str());
      list->push_back(node);
    }
  }
  return list != nullptr && count > 0;
}

void TakeSetAnswer(CNode_Data& node, const NodeRecord& record, const MacBytes& mac,
                   bool setNodeIp) {
  TakeChangedMac(node, mac);
  std::copy_n(record.bytes.begin(), CNode_Data::kRecordCopySize, node.recordCopy.begin());
  if (!setNodeIp) return;
  node.record = record.bytes;
  node.serialNumber = record.serialNumber;
  node.ipAddress = record.ipAddress;
  node.ipText = base::Ipv4Text(record.ipAddress);
  node.mask = record.mask;
  node.maskText = base::Ipv4Text(record.mask);
  node.gatewayText = base::Ipv4Text(record.gateway);
}

bool ActOnSetAnswer(CMRegApp& app, const CapturedAnswer& answer, NodeList* list) {
  const AnswerPacket& packet = answer.packet;
  const bool setNodeIp = packet.code == kPacketSetNodeIpAnswer;
  // The Set NodeIP answer is read up to the gateway; both are at least serial and address.
  if (packet.dataLength < (setNodeIp ? 16u : 8u)) return false;
  const auto record =
      ParseNodeRecord(packet.data, std::min(packet.dataLength, kMaxStoredRecordLength));
  const uint8_t* ip = reinterpret_cast<const uint8_t*>(&record->ipAddress);
  if (setNodeIp) {
    LogInfo("   - Got a Set NodeIP answer from node: %d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
  } else {
    LogInfo("   - Got a Set First/Last answer from node: %d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
  }
  if (const AdapterPtr adapter = app.SelectedAdapter()) {
    std::lock_guard guard(adapter->lock);
    if (NodePtr node = FindNodeBySerial(record->serialNumber, nullptr, adapter->nodes)) {
      TakeSetAnswer(*node, *record, answer.frame.sourceMac, setNodeIp);
    }
  }
  if (list != nullptr) {
    if (NodePtr node = FindNodeBySerial(record->serialNumber, nullptr, *list)) {
      TakeSetAnswer(*node, *record, answer.frame.sourceMac, setNodeIp);
    }
  }
  return true;
}

// A ReadLock answer carries the module's record (20 bytes) followed by its lock state (4 bytes,
// big-endian), which goes into the node's lockState, where the connections page reads it.
bool ActOnReadLock(CMRegApp& app, const CapturedAnswer& answer) {
  const AnswerPacket& packet = answer.packet;
  const std::string sender = base::Ipv4Text(answer.frame.sourceIpv4);
  if (packet.dataLength < 24) {
    LogInfo("Strange got ReadLock resp. from node: %s, but Packet payload is %u  !?!",
            sender.c_str(), static_cast<unsigned>(packet.dataLength));
    return false;
  }
  const auto record =
      ParseNodeRecord(packet.data, std::min(packet.dataLength, kMaxStoredRecordLength));
  const AdapterPtr adapter = app.SelectedAdapter();
  // The adapter's texts for the log line are copied under its lock: a discovery on another
  // worker rewrites them.
  std::string description;
  std::string addressText;
  if (adapter) {
    std::lock_guard guard(adapter->lock);
    if (NodePtr node = FindNodeBySerial(record->serialNumber, nullptr, adapter->nodes)) {
      // Only the state: the record bytes stay those of the last discovery answer.
      node->lockState = static_cast<int32_t>(base::GetBE32(packet.data + 20));
      return true;
    }
    description = adapter->description;
    addressText = adapter->info.addressText;
  }
  const uint8_t* ip = reinterpret_cast<const uint8_t*>(&record->ipAddress);
  LogInfo(
      "Strange got ReadLock resp. but didn't find the node: %s.%d.%d.%d in the current "
      "Adapter(\"%s\", ip: %s) nodes collection !?!",
      base::Format("%d", ip[0]).c_str(), ip[1], ip[2], ip[3], description.c_str(),
      addressText.c_str());
  return false;
}

}  // namespace

int ReceiveNodeAnswers(CMRegApp& app, platform::CaptureHandle* handle, uint32_t timeoutMs,
                       NodeList* list, bool logSender) {
  if (handle == nullptr || app.SelectedAdapterName().empty()) return 0;
  DiscoverEnvironment& env = Environment();
  const uint32_t start = env.Now();
  const uint32_t end = start + timeoutMs;
  int acted = 0;
  std::vector<uint8_t> frame;
  while (!platform::TickReached(env.Now(), end)) {
    env.Sleep(std::min(kPollPauseReceiverMs, end - env.Now()));
    const uint32_t pollStart = env.Now();
    for (;;) {
      const uint32_t now = env.Now();
      if (platform::TickReached(now, end) || now - pollStart >= kDiscoverPollReadMs) break;
      const uint32_t wait = std::min(kDiscoverPollReadMs - (now - pollStart), end - now);
      if (!handle->Read(frame, wait)) break;
      const auto answer = ParseCapturedAnswer(frame.data(), frame.size(), 0);
      if (!answer || answer->packet.dataLengthByte < 8) continue;
      if (logSender) {
        LogInfo("Got UDP packet with DataLen = %u, from SenderIP = \"%s\"...",
                static_cast<unsigned>(answer->packet.dataLength),
                base::Ipv4Text(answer->frame.sourceIpv4).c_str());
      }
      bool didAct = false;
      switch (answer->packet.code) {
        case kPacketDiscoverAnswer:
          didAct = ActOnDiscoverAnswer(*answer, list);
          break;
        case kPacketDiscoverList1:
        case kPacketDiscoverList2:
          didAct = ActOnList(*answer, list);
          break;
        case kPacketSetNodeIpAnswer:
        case kPacketSetFirstLastAnswer:
          didAct = ActOnSetAnswer(app, *answer, list);
          break;
        case kPacketReadLockAnswer1:
        case kPacketReadLockAnswer2:
          didAct = ActOnReadLock(app, *answer);
          break;
        default:
          break;  // 0x71, 0x77 and anything else
      }
      if (didAct) acted = 1;
    }
  }
  return acted;
}

void ReceiveSetNodeIpAnswers(CMRegApp& app, platform::CaptureHandle& handle, uint32_t timeoutMs,
                             bool updateInventory,
                             const std::function<bool(const SetNodeIpAnswer&)>& take) {
  DiscoverEnvironment& env = Environment();
  const uint32_t end = env.Now() + timeoutMs;
  std::vector<uint8_t> frame;
  for (;;) {
    const uint32_t now = env.Now();
    if (platform::TickReached(now, end)) return;
    if (!handle.Read(frame, end - now)) continue;
    const auto answer = ParseCapturedAnswer(frame.data(), frame.size(), 0);
    // The record up to the gateway must really be there.
    if (!answer || answer->packet.code != kPacketSetNodeIpAnswer ||
        answer->packet.dataLength < 16) {
      continue;
    }
    const auto record = ParseNodeRecord(
        answer->packet.data, std::min(answer->packet.dataLength, kMaxStoredRecordLength));
    if (!record) continue;
    if (updateInventory) ActOnSetAnswer(app, *answer, nullptr);
    if (take({answer->packet.sequence, *record, answer->frame.sourceMac})) return;
  }
}

SetNodeIpMismatch CompareSetNodeIpAnswer(const NodeRecord& answer, uint32_t ip, uint32_t mask,
                                         uint32_t gateway, bool gatewayAsked) {
  if (answer.ipAddress != ip) return SetNodeIpMismatch::kIp;
  if (answer.mask != mask) return SetNodeIpMismatch::kMask;
  if (gatewayAsked && answer.gateway != gateway) return SetNodeIpMismatch::kGateway;
  return SetNodeIpMismatch::kNone;
}

const char* SetNodeIpFieldName(SetNodeIpMismatch mismatch) {
  switch (mismatch) {
    case SetNodeIpMismatch::kIp:
      return "IP address";
    case SetNodeIpMismatch::kMask:
      return "subnet mask";
    case SetNodeIpMismatch::kGateway:
      return "gateway";
    case SetNodeIpMismatch::kNone:
      break;
  }
  return "";
}

void TakeChangedMac(CNode_Data& node, const MacBytes& mac) {
  const bool hasMac = std::any_of(mac.begin(), mac.end(), [](uint8_t b) { return b != 0; });
  if (!hasMac || node.mac == mac) return;
  node.mac = mac;
  LogInfo("!!!!! Node SN: %u, MAC addr. has changed to: %02X:%02X:%02X:%02X:%02X:%02X !?!",
          node.serialNumber, mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

}  // namespace discovery
