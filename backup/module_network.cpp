#include "backup/module_network.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "base/bytes.h"
#include "base/format.h"
#include "base/language.h"
#include "comm/event_log.h"
#include "config/plc_program.h"
#include "discovery/discover.h"
#include "discovery/mreg_app.h"
#include "discovery/packets.h"

namespace backup {
namespace {

std::array<uint8_t, 4> Bytes(uint32_t addressNetworkOrder) {
  std::array<uint8_t, 4> bytes{};
  std::memcpy(bytes.data(), &addressNetworkOrder, 4);
  return bytes;
}

// A dotted address of exactly four decimal parts; false for anything else.
bool ParseStrict(const std::string& text, uint32_t* address) {
  if (std::count(text.begin(), text.end(), '.') != 3) return false;
  std::array<uint8_t, 4> bytes{};
  if (!::ParseAddress(text, bytes)) return false;
  std::memcpy(address, bytes.data(), 4);
  return true;
}

bool ContiguousMask(uint32_t maskNetworkOrder) {
  const auto b = Bytes(maskNetworkOrder);
  const uint32_t host = static_cast<uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
  return host != 0 && ((~host + 1) & ~host) == 0;  // ones followed by zeros only
}

std::string IpText(uint32_t addressNetworkOrder) {
  const auto b = Bytes(addressNetworkOrder);
  return base::Format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

bool IsUxNode(const CNode_Data& node) {
  const uint8_t nibble = node.record[17] & 0xF0;
  return (node.revision >> 8) >= 100 || nibble == 0x30 || nibble == 0x90 || nibble == 0xC0;
}

}  // namespace

std::string ModuleTypeText(const CNode_Data& node) {
  const uint8_t position = node.record[16];
  const char* where = position == 0xFF ? ""
                      : position == 3  ? ", First & Last"
                      : position & 1   ? ", First"
                      : position & 2   ? ", Last"
                                       : "";
  return base::Format("{%s%s%s}", "Brevantrix", IsUxNode(node) ? " UX" : "", where);
}

std::string ModuleListLine(const CNode_Data& node) {
  if (node.revision == 0) return base::Format("%s, %u", node.ipText.c_str(), node.serialNumber);
  int major = node.revision >> 8;
  if (major >= 100) major -= 100;
  return base::Format("%s, %u, %d.%02d %s", node.ipText.c_str(), node.serialNumber, major,
                      node.revision & 0xFF, ModuleTypeText(node).c_str());
}

std::string PositionText(int position, bool german) {
  switch (position) {
    case 0:
      return german ? "0 -> Mitte" : "0 -> Middle";
    case 1:
      return german ? "1 -> Erste" : "1 -> First";
    case 2:
      return german ? "2 -> Letzte" : "2 -> Last";
    case 3:
      return german ? "3 -> Erste & Letzte" : "3 -> First && Last";
    case 0xFF:
      return german ? "0xFF -> Unbekannt" : "0xFF -> unknown";
    default:
      return base::Format(german ? "%i -> Unerwartet !?!" : "%i -> unexpected !?!", position);
  }
}

std::string NetworkText(uint32_t address) {
  const auto b = Bytes(address);
  return base::Format("%d.%d.%d.0", b[0], b[1], b[2]);
}

std::vector<std::string> SubnetEntries(const NodeList& nodes) {
  std::vector<std::string> entries{kAllNetworks};
  for (const NodePtr& node : nodes) {
    const std::string network = NetworkText(node->ipAddress);
    if (std::find(entries.begin(), entries.end(), network) == entries.end())
      entries.push_back(network);
  }
  return entries;
}

bool InSubnet(const CNode_Data& node, const std::string& entry) {
  return entry.empty() || entry == kAllNetworks || NetworkText(node.ipAddress) == entry;
}

std::string CountLine(size_t discovered, size_t locked, size_t shown, base::Language language) {
  return base::Format(
      base::Translate(
          language, "ModuleNetwork",
          QM_TRANSLATE_NOOP("ModuleNetwork", "Entdeckt = %zu, Geschützt = %zu, Angezeigt = %zu")),
      discovered, locked, shown);
}

SettingsCheck CheckSettings(const CNode_Data* node, const SettingsInput& input) {
  SettingsCheck check;
  if (!node) {
    check.verdict = SettingsVerdict::kRefused;
    check.message = "no selection";
    return check;
  }
  std::string serialText = input.serial;
  serialText.erase(0, serialText.find_first_not_of(' '));
  serialText.erase(serialText.find_last_not_of(' ') + 1);
  if (!serialText.empty() && serialText[0] == '-') {
    check.verdict = SettingsVerdict::kRefused;
    check.message = "SerialNo has to be > 0.";
    return check;
  }
  // A plain decimal number that fits the request's four bytes; anything else is not sent.
  if (serialText.empty() || serialText.size() > 10 ||
      !std::all_of(serialText.begin(), serialText.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
      std::stoull(serialText) == 0 || std::stoull(serialText) > 0xFFFFFFFFull) {
    check.verdict = SettingsVerdict::kRefused;
    check.message = "SerialNo has to be > 0.";
    return check;
  }
  check.serial = static_cast<uint32_t>(std::stoull(serialText));
  const bool ipOk = ParseStrict(input.ip, &check.ip);
  const bool gatewayOk = ParseStrict(input.gateway, &check.gateway);
  const bool maskOk = ParseStrict(input.mask, &check.mask) && ContiguousMask(check.mask);
  const auto ip = Bytes(check.ip);
  const auto gateway = Bytes(check.gateway);
  const auto has255 = [](const std::array<uint8_t, 4>& b) {
    return std::find(b.begin(), b.end(), 255) != b.end();
  };
  if (!ipOk || ip[0] == 0 || ip[3] == 0 || has255(ip) || !gatewayOk || gateway[0] == 0 ||
      gateway[1] == 0 || has255(gateway) || !maskOk) {
    check.verdict = SettingsVerdict::kBeep;
    return check;
  }
  const bool sameIp = check.ip == node->ipAddress;
  if (check.serial == node->serialNumber && sameIp && check.mask == node->mask &&
      IpText(check.gateway) == node->gatewayText) {
    check.verdict = SettingsVerdict::kNothingToChange;
    check.message = "nothing to change !?!";
    return check;
  }
  if (check.serial != node->serialNumber && input.ip != node->ipText) {
    check.verdict = SettingsVerdict::kRefused;
    check.message =
        "Can't change the IP and the Serial No. with one request!!! First change the Serial "
        "number.";
    return check;
  }
  check.verdict = SettingsVerdict::kSend;
  return check;
}

std::vector<uint8_t> SetNodeIpPacket(uint32_t serial, uint32_t ip, uint32_t mask,
                                     uint32_t gateway) {
  std::vector<uint8_t> packet(discovery::kPacketHeaderLength + 16);
  discovery::PutPacketHeader(packet.data(), discovery::kPacketSetNodeIp, 0, 16,
                             discovery::NextSequenceNumber());
  base::PutBE32(packet.data() + 8, serial);
  std::memcpy(packet.data() + 12, &ip, 4);
  std::memcpy(packet.data() + 16, &mask, 4);
  std::memcpy(packet.data() + 20, &gateway, 4);
  return packet;
}

bool SendSetNodeIp(CMRegApp& app, const std::string& ipText, const std::vector<uint8_t>& packet,
                   std::string* failure) {
  std::string reason;
  const bool took = [&] {
    const auto request = discovery::ParseAnswerPacket(packet.data(), packet.size());
    if (!request || request->dataLength < 16) {
      reason = "not a Set NodeIP request";
      return false;
    }
    const uint32_t serial = base::GetBE32(request->data);
    uint32_t ip = 0, mask = 0, gateway = 0;
    std::memcpy(&ip, request->data + 4, 4);
    std::memcpy(&mask, request->data + 8, 4);
    std::memcpy(&gateway, request->data + 12, 4);
    if (app.SelectedAdapterName().empty()) app.Discover(false, nullptr);
    discovery::CaptureHandlePtr handle;
    platform::CaptureHandle* open = discovery::_send_UDP_to_NodeIP(
        app, handle, ipText, packet.data(), packet.size(), discovery::kModulePort, 1);
    if (open == nullptr) {
      reason = "the request could not be sent";
      return false;
    }
    // Only an answer to this very request counts (the module echoes its sequence number); the
    // module is done only when the answer carries what was asked.
    std::optional<discovery::NodeRecord> own, other;
    discovery::ReceiveSetNodeIpAnswers(app, *open, kSetNodeIpAnswerMs, true,
                                       [&](const discovery::SetNodeIpAnswer& answer) {
                                         if (answer.sequence != request->sequence) return false;
                                         if (answer.record.serialNumber != serial) {
                                           other = answer.record;
                                           return false;
                                         }
                                         own = answer.record;
                                         return true;
                                       });
    if (!own) {
      reason = other ? base::Format("the module answered with serial %u instead of %u",
                                    other->serialNumber, serial)
                     : "no answer from the module";
      return false;
    }
    const discovery::SetNodeIpMismatch mismatch =
        discovery::CompareSetNodeIpAnswer(*own, ip, mask, gateway, true);
    if (mismatch != discovery::SetNodeIpMismatch::kNone) {
      const auto asked = mismatch == discovery::SetNodeIpMismatch::kIp     ? ip
                         : mismatch == discovery::SetNodeIpMismatch::kMask ? mask
                                                                           : gateway;
      const auto got = mismatch == discovery::SetNodeIpMismatch::kIp     ? own->ipAddress
                       : mismatch == discovery::SetNodeIpMismatch::kMask ? own->mask
                                                                         : own->gateway;
      reason = base::Format("the module did not take the %s: it answered %s instead of %s",
                            discovery::SetNodeIpFieldName(mismatch), IpText(got).c_str(),
                            IpText(asked).c_str());
      return false;
    }
    return true;
  }();
  if (took) {
    LogInfo("Set NodeIP to %s: taken", ipText.c_str());
  } else {
    LogError("Set NodeIP to %s: %s", ipText.c_str(), reason.c_str());
  }
  if (failure != nullptr) *failure = reason;
  return took;
}

ReorderPlan PlanReorder(const NodeList& selected) {
  ReorderPlan plan;
  std::map<std::string, size_t> index;
  for (const NodePtr& node : selected) {
    const std::string network = NetworkText(node->ipAddress);
    auto [it, added] = index.emplace(network, plan.networks.size());
    if (added) plan.networks.push_back({network, 0, {}});
    ReorderNetwork& net = plan.networks[it->second];
    const int host = 20 + net.count++;
    if (host > 255) continue;  // refused below
    const auto bytes = Bytes(node->ipAddress);
    if (bytes[3] == host) continue;
    net.moves.push_back({node->ipText,
                         base::Format("%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], host),
                         node->serialNumber, node->mask, 0});
    ParseStrict(node->gatewayText, &net.moves.back().gateway);
  }
  for (const ReorderNetwork& net : plan.networks) {
    if (net.count > kMaxModulesPerNetwork) {
      plan.refusal = base::Format(
          "Es sind %i Module im Netzwerk \"%s\". Es können nicht mehr als 234 Module integriert "
          "werden.",
          net.count, net.network.c_str());
      return plan;
    }
  }
  if (plan.networks.size() == 1) {
    plan.question =
        base::Format("Sollen die IP Adressen der Module %i im Netzwerk %s neu angeordnet werden? ?",
                     plan.networks[0].count, plan.networks[0].network.c_str());
  } else {
    std::string lines;
    int k = 1;
    for (const ReorderNetwork& net : plan.networks) {
      lines += base::Format("   %i) %i im Netzwerk \"%s\"\n", k++, net.count, net.network.c_str());
    }
    plan.question = "Sollen die IP Adressen der Module \n" +
                    base::Format("%s neu angeordnet werden?", lines.c_str());
  }
  return plan;
}

std::vector<std::string> ExecuteReorder(CMRegApp& app, const ReorderPlan& plan,
                                        std::vector<std::string>* reasons) {
  std::vector<std::string> failed;
  for (const ReorderNetwork& net : plan.networks) {
    for (const ReorderMove& move : net.moves) {
      uint32_t to = 0;
      ParseStrict(move.to, &to);
      std::string reason;
      if (!SendSetNodeIp(app, move.from, SetNodeIpPacket(move.serial, to, move.mask, move.gateway),
                         &reason)) {
        failed.push_back(move.from);
        if (reasons != nullptr) reasons->push_back(reason);
      }
    }
  }
  return failed;
}

bool FindDuplicate(const NodeList& nodes, uint32_t* serialA, uint32_t* serialB, std::string* ip) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    for (size_t j = i + 1; j < nodes.size(); ++j) {
      if (nodes[i]->ipAddress == nodes[j]->ipAddress &&
          nodes[i]->serialNumber != nodes[j]->serialNumber) {
        *serialA = nodes[i]->serialNumber;
        *serialB = nodes[j]->serialNumber;
        *ip = nodes[i]->ipText;
        return true;
      }
    }
  }
  return false;
}

bool ConfirmNetworkLock(const NodeList& all, bool lock, base::Prompt& prompt) {
  uint32_t a = 0, b = 0;
  std::string ip;
  if (!FindDuplicate(all, &a, &b, &ip)) return true;
  if (lock) {
    prompt.Tell(base::Format("Geschütztprozedur abgebrochen, da folgende Module doppelte "
                             "IP-Adressen haben:(%u, %u) - \"%s\" !",
                             a, b, ip.c_str()),
                "Warnung", base::PromptIcon::Warning);
    return false;
  }
  return prompt.Ask(
             "Duplicate IP addresses found! If you proceed, All connected modules will be "
             "unlocked. If you don't want to do this, connect your PC to each module "
             "individually and unlock them one at a time. Do you want to proceed?",
             "Warning", base::PromptButtons::YesNo,
             base::PromptIcon::Warning) == base::PromptAnswer::Yes;
}

NetworkLockResult LockNetworkModules(CMRegApp& app, const NodeList& all, const std::string& network,
                                     bool lock) {
  NetworkLockResult result;
  const std::vector<uint8_t> packet = config::LockPacket(lock ? 1 : 0);
  for (const NodePtr& node : all) {
    if (!InSubnet(*node, network)) continue;
    const int state = config::_ReadLock(app, packet, node->ipText);
    if (state < 0) {
      result.failed.push_back(node->ipText);
    } else {
      ++result.changed;
    }
  }
  return result;
}

NetworkLockResult LockNetwork(CMRegApp& app, const NodeList& all, const std::string& network,
                              bool lock, base::Prompt& prompt) {
  if (!ConfirmNetworkLock(all, lock, prompt)) {
    NetworkLockResult stopped;
    stopped.stopped = true;
    return stopped;
  }
  return LockNetworkModules(app, all, network, lock);
}

std::vector<uint8_t> ManagementPacket(uint32_t command) {
  std::vector<uint8_t> packet(discovery::kPacketHeaderLength + 8);
  discovery::PutPacketHeader(packet.data(), discovery::kPacketManagement, 0x01, 8,
                             discovery::NextSequenceNumber());
  std::memcpy(packet.data() + 8, "MGMT", 4);
  base::PutBE32(packet.data() + 12, command);
  return packet;
}

std::vector<std::string> SendManagement(CMRegApp& app, const std::vector<std::string>& ips,
                                        uint32_t command) {
  std::vector<std::string> failed;
  if (app.SelectedAdapterName().empty()) app.Discover(false, nullptr);
  for (const std::string& ip : ips) {
    const std::vector<uint8_t> packet = ManagementPacket(command);
    discovery::CaptureHandlePtr handle;
    // An address text of 6 characters or fewer would go to the broadcast address: never.
    if (ip.size() <= 6 || !discovery::_send_UDP_to_NodeIP(app, handle, ip, packet.data(),
                                                          packet.size(), discovery::kModulePort, 1))
      failed.push_back(ip);
  }
  return failed;
}

bool ConfirmResetNames(size_t count, base::Prompt& prompt) {
  if (count == 0) {
    prompt.Tell(
        "Bitte wählen Sie die Module aus der Liste - deren Namen Sie zurücksetzen "
        "möchten!.");
    return false;
  }
  return prompt.Ask(base::Format("Sollen die Namen und IP Adressen der ausgewählten (%i) Module "
                                 "zurücksetzen  werden ?",
                                 static_cast<int>(count)),
                    "Warnung", base::PromptButtons::YesNo,
                    base::PromptIcon::Warning) == base::PromptAnswer::Yes;
}

bool ResetNamesAndAddresses(CMRegApp& app, const std::vector<std::string>& ips,
                            base::Prompt& prompt, std::vector<std::string>* failed) {
  if (!ConfirmResetNames(ips.size(), prompt)) return false;
  if (!app.SelectedAdapter()) {
    prompt.Tell(
        "Netzwerkadapter nicht verfügbar. Erneut Finden aktivieren, um die Liste der "
        "Module erneut zu laden.");
    return false;
  }
  *failed = SendManagement(app, ips, kCommandResetName);
  return true;
}

std::vector<std::string> CheckUpgradeSelection(CMRegApp& app, const NodeList& selected,
                                               base::Prompt& prompt) {
  std::vector<std::string> ips;
  // Every adapter's nodes: one address answered by two modules anywhere stops the upgrade.
  NodeList everyone;
  std::string entries;
  for (const AdapterPtr& adapter : app.AdaptersSnapshot()) {
    std::lock_guard guard(adapter->lock);
    everyone.insert(everyone.end(), adapter->nodes.begin(), adapter->nodes.end());
  }
  for (size_t i = 0; i < everyone.size(); ++i) {
    for (size_t j = i + 1; j < everyone.size(); ++j) {
      if (everyone[i]->ipAddress == everyone[j]->ipAddress &&
          everyone[i]->serialNumber != everyone[j]->serialNumber) {
        entries += base::Format("%i - \"%s\", %i - \"%s\", ", everyone[i]->serialNumber,
                                everyone[i]->ipText.c_str(), everyone[j]->serialNumber,
                                everyone[j]->ipText.c_str());
      }
    }
  }
  if (!entries.empty()) {
    prompt.Tell(base::Format("ERROR!  There are duplicated IPs over the networks!!!\nThe "
                             "duplicated nodes are: (%s)\nPlease check the nodes in all network "
                             "adapters...",
                             entries.c_str()),
                "Upgrade", base::PromptIcon::Error);
    return {};
  }
  uint32_t a = 0, b = 0;
  std::string duplicate;
  if (FindDuplicate(selected, &a, &b, &duplicate)) {
    prompt.Tell(base::Format("Vorgang abgebrochen. Ein FW Upgrade ist nicht möglich, da  Module "
                             "(%u, %u) doppelte IP Adresse haben. - \"%s\" ",
                             a, b, duplicate.c_str()),
                "Upgrade", base::PromptIcon::Error);
    return {};
  }
  const AdapterPtr adapter = app.SelectedAdapter();
  for (const NodePtr& node : selected) {
    for (;;) {
      bool reachable = true;
      std::string adapterName;
      if (adapter) {
        const CAdapterInfo info = discovery::AdapterInfoFor(adapter->name);
        adapterName = adapter->description;
        reachable = std::any_of(info.addresses.begin(), info.addresses.end(),
                                [&](const platform::Ipv4Entry& e) {
                                  return (e.address & e.mask) == (node->ipAddress & e.mask);
                                });
      }
      if (reachable) {
        ips.push_back(node->ipText);
        break;
      }
      const auto bytes = Bytes(node->ipAddress);
      const std::string suggestion =
          base::Format("%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3] == 254 ? 253 : 254);
      const base::PromptAnswer answer = prompt.Ask(
          base::Format("Module with IP \"%s\" is unreachable for the current IP settings of the "
                       "NetworkAdapter \"%s\", you should add an alternative IP address in this "
                       "adapter in order such modules to be reachable. If you specify IP "
                       "address: \"%s\" and Subnet mask:\"255.255.255.0\" and click Retry to "
                       "continue with the operation...",
                       node->ipText.c_str(), adapterName.c_str(), suggestion.c_str()),
          "Upgrade", base::PromptButtons::AbortRetryIgnore, base::PromptIcon::Warning);
      if (answer == base::PromptAnswer::Retry) continue;
      if (answer == base::PromptAnswer::Ignore) break;  // left out of the run
      return {};
    }
  }
  return ips;
}

}  // namespace backup
