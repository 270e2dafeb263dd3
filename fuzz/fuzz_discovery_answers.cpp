// Captured frames as the discovery and the generic receiver see them: the candidate checks,
// the packet header, node records, 0x58/0x59 lists, Set NodeIP / Set First/Last and ReadLock
// answers, the merge into an adapter (empty, or already holding the answering node) and the
// copy handed to callers; the topology answers (announcements, buddy lists, neighbour reports)
// as GetTopology reads them.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comm/event_log.h"
#include "discovery/discover.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "discovery/topology_protocol.h"

namespace {

// Plays the input as the one captured frame, on a clock that moves only when asked.
class OneFrame : public platform::CaptureHandle, public discovery::DiscoverEnvironment {
 public:
  OneFrame(const uint8_t* data, size_t size) : frame_(data, data + size) {}
  bool Send(const uint8_t*, size_t) override { return true; }
  bool Read(std::vector<uint8_t>& frame, uint32_t timeoutMs) override {
    if (given_) {
      now_ += timeoutMs;
      return false;
    }
    given_ = true;
    frame = frame_;
    return true;
  }
  std::string LastError() const override { return ""; }
  uint32_t Now() override { return now_; }
  void Sleep(uint32_t ms) override { now_ += ms; }
  std::optional<std::vector<platform::AdapterInfo>> ListAdapters() override {
    return std::vector<platform::AdapterInfo>{};
  }

 private:
  std::vector<uint8_t> frame_;
  bool given_ = false;
  uint32_t now_ = 0;
};

std::string g_logFolder;

void RemoveLogFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(g_logFolder, ignored);
}

void KeepLogOutOfTheWay() {
  if (!g_logFolder.empty()) return;
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qm_fuzz_discovery_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return;
  g_logFolder = pattern + "/";
  eventlog::testing::SetTempFolder(g_logFolder);
  eventlog::testing::SetRotateBytes(1'000'000);
  atexit(RemoveLogFolder);
}

// A node that the inventory and the caller's list already hold under the serial number the
// answer carries, with other fields, so that the answer is merged into it.
NodePtr KnownNode(uint32_t serial) {
  auto node = std::make_shared<CNode_Data>();
  node->serialNumber = serial;
  node->ipAddress = 0x0100A8C0;  // 192.168.0.1
  node->ipText = "192.168.0.1";
  node->mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
  node->stale = 1;
  return node;
}

// Serial number of the first record the frame carries; nullopt when there is none.
std::optional<uint32_t> FirstSerial(const uint8_t* data, size_t size) {
  const auto answer = discovery::ParseCapturedAnswer(data, size, 0);
  if (!answer || answer->packet.dataLength < 4) return std::nullopt;
  const uint8_t* p = answer->packet.data;
  return static_cast<uint32_t>(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KeepLogOutOfTheWay();
  using namespace discovery;
  // Inputs of even size meet an inventory and a list that already know the answering node (and
  // one other), inputs of odd size empty ones, so that both the merge and the first sight of a
  // node are fuzzed.
  const std::optional<uint32_t> serial = (size % 2 == 0) ? FirstSerial(data, size) : std::nullopt;
  auto seeded = [&serial] {
    NodeList nodes;
    if (serial) nodes = {KnownNode(*serial ^ 1), KnownNode(*serial)};
    return nodes;
  };

  // The discovery's path: candidate, header, record, node, merge, copy.
  if (const auto answer = ParseCapturedAnswer(data, size, 0)) {
    const AnswerPacket& packet = answer->packet;
    if (packet.data + packet.dataLength > data + size) __builtin_trap();
    if (const auto record =
            ParseNodeRecord(packet.data, std::min(packet.dataLength, kMaxStoredRecordLength))) {
      CNAdapter adapter;
      adapter.nodes = seeded();
      const NodePtr node = NodeFromRecord(*record, answer->frame.sourceMac);
      MergeDiscoveryAnswer(adapter, node, record->length, packet.flags);
      MergeDiscoveryAnswer(adapter, NodeFromRecord(*record, MacBytes{}), record->length,
                           packet.flags);
      std::lock_guard guard(adapter.lock);
      for (const auto& n : adapter.nodes) (void)CopyNodeForList(*n);
    }
  }

  // The topology phases on the same frame, with nodes for the sender and for every serial the
  // frame could name.
  {
    NodeList nodes;
    for (uint32_t serial : {0u, 1u, 0x01020304u}) {
      auto node = std::make_shared<CNode_Data>();
      node->serialNumber = serial;
      nodes.push_back(node);
    }
    if (const auto answer = ParseCapturedAnswer(data, size, 0)) {
      nodes[0]->mac = answer->frame.sourceMac;
      for (uint32_t serial : ParseTopologyEntries(answer->packet)) {
        auto node = std::make_shared<CNode_Data>();
        node->serialNumber = serial;
        nodes.push_back(node);
      }
      if (const auto neighbours = ParseNeighborsAnswer(answer->packet)) {
        nodes[1]->mac = neighbours->leftMac;
        nodes[2]->mac = neighbours->rightMac;
      }
    }
    std::mutex lock;
    TopologyRun run(nodes, lock);
    for (int pass = 0; pass < 2; ++pass) {
      run.OnTopologyFrame(data, size, 0);
      run.OnNeighborsFrame(data, size, 0);
    }
  }

  // The generic receiver on the same frame.
  OneFrame frame(data, size);
  ScopedDiscoverEnvironment environment(&frame);
  CMRegApp app;
  auto adapter = std::make_shared<CNAdapter>();
  adapter->name = "fuzz0";
  adapter->description = "fuzz0 192.168.0.10";
  adapter->nodes = seeded();
  {
    std::lock_guard guard(app.inventoryLock);
    app.adapters.push_back(adapter);
  }
  app.SetSelectedAdapter("fuzz0");
  NodeList list = seeded();
  ReceiveNodeAnswers(app, &frame, 20, &list, true);
  for (const auto& node : list) (void)CopyNodeForList(*node);
  return 0;
}
