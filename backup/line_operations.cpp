#include "backup/line_operations.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/bytes.h"
#include "base/format.h"
#include "discovery/discover.h"
#include "discovery/mreg_app.h"
#include "params/target.h"
#include "platform/tick.h"

namespace backup {

namespace {

constexpr uint32_t kNodeAnswerWaitMs = 4000;
constexpr uint8_t kSetNodeIpLength = 16;
constexpr uint8_t kSetFirstLastLength = 20;

uint32_t Address(const std::string& text) {
  in_addr address{};
  inet_pton(AF_INET, text.c_str(), &address);
  return address.s_addr;
}

class DiscoveryLineOperations : public LineOperations {
 public:
  explicit DiscoveryLineOperations(CMRegApp& app) : app_(app) {}
  ~DiscoveryLineOperations() override { handle_.reset(); }

  bool SetNodeIp(const ModuleInfo& module, const std::string& ip, const std::string& mask,
                 const std::string& gateway) override {
    Pending asked;
    asked.serial = module.serial;
    // A text that is no address is never sent (it would go out as 0.0.0.0).
    for (const auto& [text, out] : {std::pair{&ip, &asked.ip}, std::pair{&mask, &asked.mask},
                                    std::pair{&gateway, &asked.gateway}}) {
      const auto parsed = params::ParseDottedAddress(*text, nullptr);
      if (!parsed) return false;
      std::memcpy(out, parsed->data(), 4);
    }
    asked.sequence = discovery::NextSequenceNumber();
    std::vector<uint8_t> packet(discovery::kPacketHeaderLength + kSetNodeIpLength);
    discovery::PutPacketHeader(packet.data(), discovery::kPacketSetNodeIp, 0, kSetNodeIpLength,
                               asked.sequence);
    uint8_t* data = packet.data() + discovery::kPacketHeaderLength;
    base::PutBE32(data, module.serial);
    const uint32_t addresses[3] = {asked.ip, asked.mask, asked.gateway};
    for (size_t k = 0; k < 3; ++k) std::memcpy(data + 4 + 4 * k, &addresses[k], 4);
    // The sequence as an answer's header shows it (the module echoes the four bytes).
    asked.sequence = discovery::ParseAnswerPacket(packet.data(), packet.size())->sequence;
    if (!Send(module, packet)) return false;
    pending_.push_back(asked);
    return true;
  }
  std::vector<SettingsNotTaken> AwaitAnswers(uint32_t ms) override {
    std::vector<Pending> pending = std::move(pending_);
    pending_.clear();
    std::vector<std::optional<discovery::NodeRecord>> answers(pending.size());
    if (handle_ && !pending.empty()) {
      discovery::ReceiveSetNodeIpAnswers(
          app_, *handle_, ms, true, [&](const discovery::SetNodeIpAnswer& answer) {
            for (size_t k = 0; k < pending.size(); ++k) {
              if (pending[k].sequence == answer.sequence &&
                  pending[k].serial == answer.record.serialNumber)
                answers[k] = answer.record;
            }
            return std::all_of(answers.begin(), answers.end(),
                               [](const auto& a) { return a.has_value(); });
          });
    }
    std::vector<SettingsNotTaken> notTaken;
    for (size_t k = 0; k < pending.size(); ++k) {
      const Pending& asked = pending[k];
      if (!answers[k]) {
        notTaken.push_back({asked.serial, "no answer"});
        continue;
      }
      const auto mismatch =
          discovery::CompareSetNodeIpAnswer(*answers[k], asked.ip, asked.mask, asked.gateway, true);
      if (mismatch != discovery::SetNodeIpMismatch::kNone) {
        notTaken.push_back({asked.serial, base::Format("the answer does not carry the %s asked for",
                                                       discovery::SetNodeIpFieldName(mismatch))});
      }
    }
    return notTaken;
  }
  bool SetFirstLast(const ModuleInfo& module, uint8_t position) override {
    std::vector<uint8_t> packet(discovery::kPacketHeaderLength + kSetFirstLastLength);
    discovery::PutPacketHeader(packet.data(), discovery::kPacketSetFirstLast, 0,
                               kSetFirstLastLength, discovery::NextSequenceNumber());
    uint8_t* data = packet.data() + discovery::kPacketHeaderLength;
    std::memcpy(data, module.nodeBlock.data(), kSetFirstLastLength);
    base::PutBE32(data, module.serial);
    data[16] = position;
    if (!Send(module, packet)) return false;
    return discovery::ReceiveNodeAnswers(app_, handle_.get(), kNodeAnswerWaitMs, nullptr) == 1;
  }
  bool BroadcastReset() override {
    return discovery::SendBroadcastCommand(app_, kResetRequest, sizeof kResetRequest,
                                           discovery::kModulePort, 3, false);
  }
  std::vector<ModuleInfo> Rediscover() override {
    handle_.reset();
    app_.discoverDone = 0;
    app_.Discover(false, nullptr);
    std::vector<ModuleInfo> modules;
    if (const AdapterPtr adapter = app_.SelectedAdapter()) {
      std::lock_guard guard(adapter->lock);
      for (const auto& node : adapter->nodes) modules.push_back(ModuleFromNode(*node));
    }
    return modules;
  }
  bool Wait(uint32_t ms, base::Progress& progress) override {
    const uint32_t start = platform::GetTickCount();
    while (platform::TicksSince(start) < ms) {
      if (progress.Cancelled()) return false;
      platform::SleepMs(20);
    }
    return !progress.Cancelled();
  }

 private:
  bool Send(const ModuleInfo& module, const std::vector<uint8_t>& packet) {
    int index = 0;
    const NodePtr node = app_.FindNodeBySerial(module.serial, &index);
    if (node) {
      return discovery::_send_UDP_to_Node(app_, handle_, node.get(), packet.data(), packet.size(),
                                          discovery::kModulePort, 1) != nullptr;
    }
    return discovery::_send_UDP_to_NodeIP(app_, handle_, module.ipText, packet.data(),
                                          packet.size(), discovery::kModulePort, 1) != nullptr;
  }

  // A Set NodeIP sent and not yet answered: the module, the sequence and what it was asked.
  struct Pending {
    uint32_t serial = 0;
    uint32_t sequence = 0;
    uint32_t ip = 0, mask = 0, gateway = 0;  // network order
  };

  CMRegApp& app_;
  discovery::CaptureHandlePtr handle_;
  std::vector<Pending> pending_;
};

}  // namespace

ReachabilityCheck MakeReachabilityCheck(CMRegApp& app) {
  return [&app](const ModuleInfo& module) -> std::optional<Unreachable> {
    std::string address, mask;
    if (!discovery::AdapterAddressFor(app, module.ipText, &address, &mask)) return std::nullopt;
    if (address != "0.0.0.0") return std::nullopt;
    // A host of the module's /24 that no module the adapter knows uses, from the top down.
    const uint32_t network = ntohl(Address(module.ipText)) & 0xFFFFFF00u;
    std::vector<bool> used(256, false);
    if (const AdapterPtr adapter = app.SelectedAdapter()) {
      std::lock_guard guard(adapter->lock);
      for (const auto& node : adapter->nodes) {
        const uint32_t host = ntohl(node->ipAddress);
        if ((host & 0xFFFFFF00u) == network) used[host & 0xFF] = true;
      }
    }
    used[ntohl(Address(module.ipText)) & 0xFF] = true;
    Unreachable problem{app.SelectedAdapterName(), ""};
    for (int host = 254; host >= 1 && problem.proposal.empty(); --host) {
      if (used[static_cast<size_t>(host)]) continue;
      const uint32_t value = network | static_cast<uint32_t>(host);
      problem.proposal = base::Format("%u.%u.%u.%u", value >> 24, (value >> 16) & 0xFF,
                                      (value >> 8) & 0xFF, value & 0xFF);
    }
    return problem;
  };
}

std::unique_ptr<LineOperations> MakeLineOperations(CMRegApp& app) {
  return std::make_unique<DiscoveryLineOperations>(app);
}

}  // namespace backup
