#pragma once
// The discovered-modules page without its window: the module list's line format, the subnet
// filter and count line, the checks and requests that change a module's address, mask, gateway
// or serial, Reorder IPs, lock and unlock of networks, reset of name and address, DHCP off, and
// the checks before an upgrade. Qt-free; questions go through a Prompt.
#include <cstdint>
#include <string>
#include <vector>

#include "base/language.h"
#include "base/prompt.h"
#include "discovery/inventory.h"

class CMRegApp;

namespace backup {

inline constexpr const char* kAllNetworks = "<<< Alle Netzwerke >>>";
inline constexpr int kMaxModulesPerNetwork = 234;
inline constexpr uint32_t kSetNodeIpAnswerMs = 1000;
// Management command words (0xB0 with "MGMT") of the page's requests.
inline constexpr uint32_t kCommandResetName = 0x100;
inline constexpr uint32_t kCommandDhcpOff = 0x200;

// "%s, %u" without a firmware version, else "%s, %u, %d.%02d {...}".
std::string ModuleListLine(const CNode_Data& node);
// The module's type text in braces.
std::string ModuleTypeText(const CNode_Data& node);
// "0 -> Middle" ... and the German texts.
std::string PositionText(int position, bool german);

// "%d.%d.%d.0" of an address (network order).
std::string NetworkText(uint32_t address);
// The filter's entries: kAllNetworks, then each /24 network of the nodes once, in order.
std::vector<std::string> SubnetEntries(const NodeList& nodes);
bool InSubnet(const CNode_Data& node, const std::string& entry);
std::string CountLine(size_t discovered, size_t locked, size_t shown,
                      base::Language language = base::Language::German);

// ---- module settings ----
struct SettingsInput {
  std::string ip, mask, gateway;
  std::string serial;  // as typed
};
enum class SettingsVerdict { kSend, kBeep, kRefused, kNothingToChange };
struct SettingsCheck {
  SettingsVerdict verdict = SettingsVerdict::kBeep;
  std::string message;  // the text shown (empty for a beep)
  uint32_t serial = 0;
  uint32_t ip = 0, mask = 0, gateway = 0;  // network order
};
// The page's checks for one selected module (null: no selection).
SettingsCheck CheckSettings(const CNode_Data* node, const SettingsInput& input);
// Set NodeIP: code 0x20, the sequence number, serial (big-endian), address, mask, gateway.
std::vector<uint8_t> SetNodeIpPacket(uint32_t serial, uint32_t ip, uint32_t mask, uint32_t gateway);
// Sends it to the module at `ipText` and waits for the module's answer to it; true only when
// the answer carries the serial, address, mask and gateway asked for. Otherwise *failure says
// why (no answer, or which setting the module did not take).
bool SendSetNodeIp(CMRegApp& app, const std::string& ipText, const std::vector<uint8_t>& packet,
                   std::string* failure = nullptr);

// ---- Reorder IPs ----
struct ReorderMove {
  std::string from;  // current address text
  std::string to;
  uint32_t serial = 0;
  uint32_t mask = 0, gateway = 0;
};
struct ReorderNetwork {
  std::string network;
  int count = 0;
  std::vector<ReorderMove> moves;  // only the modules whose host number changes
};
struct ReorderPlan {
  std::string refusal;   // too many modules in a network (nothing is sent)
  std::string question;  // the confirmation
  std::vector<ReorderNetwork> networks;
};
// Per /24 network of the selected nodes (list order): host numbers from 20 upwards.
ReorderPlan PlanReorder(const NodeList& selected);
// Sends the moves; the addresses of the modules that did not take their new address (with
// SendSetNodeIp's reason for each in *reasons, in the same order).
std::vector<std::string> ExecuteReorder(CMRegApp& app, const ReorderPlan& plan,
                                        std::vector<std::string>* reasons = nullptr);

// ---- lock, reset name, DHCP ----
// The first pair of nodes (over all networks given) that answer on one address; false when
// none.
bool FindDuplicate(const NodeList& nodes, uint32_t* serialA, uint32_t* serialB, std::string* ip);
struct NetworkLockResult {
  bool stopped = false;             // refused or not confirmed: nothing sent
  std::vector<std::string> failed;  // modules that did not answer
  size_t changed = 0;
};
// The duplicate check before a lock (refused) or an unlock (asked); true to go on.
bool ConfirmNetworkLock(const NodeList& all, bool lock, base::Prompt& prompt);
// Sends the lock (or unlock) request to every module of `network` among `all`.
NetworkLockResult LockNetworkModules(CMRegApp& app, const NodeList& all, const std::string& network,
                                     bool lock);
// Both: locks (or unlocks) every module of `network` among `nodes` with the lock request; `all`
// are the nodes of every network (for the duplicate check).
NetworkLockResult LockNetwork(CMRegApp& app, const NodeList& all, const std::string& network,
                              bool lock, base::Prompt& prompt);
// 0xB0 management request with "MGMT" and the command word.
std::vector<uint8_t> ManagementPacket(uint32_t command);
// Sends a management command to each module; the addresses it could not be sent to.
std::vector<std::string> SendManagement(CMRegApp& app, const std::vector<std::string>& ips,
                                        uint32_t command);
// The question of Reset name and IP (the selection message without modules); true to go on.
bool ConfirmResetNames(size_t count, base::Prompt& prompt);
// Reset name and IP with its question; false when not confirmed or nothing was selected.
bool ResetNamesAndAddresses(CMRegApp& app, const std::vector<std::string>& ips,
                            base::Prompt& prompt, std::vector<std::string>* failed);

// ---- before an upgrade ----
// Duplicates among all adapters' nodes, then among the selection, then modules outside the
// adapter's subnet (Retry / Ignore / Cancel). The modules to upgrade; empty when stopped.
std::vector<std::string> CheckUpgradeSelection(CMRegApp& app, const NodeList& selected,
                                               base::Prompt& prompt);

}  // namespace backup
