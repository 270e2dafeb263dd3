#include "pages/module_link.h"

#include "base/format.h"
#include "comm/blocking_socket.h"
#include "params/mirror_map.h"
#include "params/register_map.h"
#include "params/target.h"

namespace pages {
namespace {

class SocketModuleLink : public ModuleLink {
 public:
  bool Connect(const std::string& ipText) override {
    socket_.Cleanup();
    try {
      socket_._Connect(ipText, CBlockingSocket::kModbusPort, true);
      return true;
    } catch (const CBlockingSocketException&) {
      socket_.Cleanup();
      return false;
    }
  }
  void Disconnect() override { socket_.Cleanup(); }
  bool Read(uint16_t first, uint16_t count, uint16_t* values) override {
    try {
      return registers_.ReadRegisters(first, count, values);
    } catch (const CBlockingSocketException&) {
      return false;
    }
  }
  bool Write(uint16_t reg, uint16_t value) override {
    try {
      return registers_.WriteRegister(reg, value);
    } catch (const CBlockingSocketException&) {
      return false;
    }
  }
  bool SaveToFlash(uint16_t reg, uint16_t value) override {
    try {
      return registers_.SaveToFlash(reg, value);
    } catch (const CBlockingSocketException&) {
      return false;
    }
  }

 private:
  CBlockingSocket socket_;
  params::ClientRegisterAccess registers_{socket_};
};

}  // namespace

std::unique_ptr<ModuleLink> MakeSocketModuleLink() {
  return std::make_unique<SocketModuleLink>();
}

bool PageRegisters::Connect(const std::string& ipText) {
  Disconnect();
  if (!link_.Connect(ipText)) return false;
  uint16_t variant = 0;
  // The mirror map follows the connected module's own register 6; without it the numbers
  // stay unmapped.
  mirrored_ =
      link_.Read(params::reg::kVariant, 1, &variant) && params::MirrorMap::ReversedVariant(variant);
  connected_ = true;
  address_ = ipText;
  return true;
}

void PageRegisters::Disconnect() {
  if (connected_) link_.Disconnect();
  connected_ = false;
  mirrored_ = false;
  address_.clear();
}

uint16_t PageRegisters::ToModule(uint16_t reg) const {
  return mirrored_ ? static_cast<uint16_t>(params::MirrorMap::Map(reg)) : reg;
}

std::optional<uint16_t> PageRegisters::ReadOne(uint16_t reg) {
  if (!connected_) return std::nullopt;
  uint16_t value = 0;
  if (!link_.Read(ToModule(reg), 1, &value)) return std::nullopt;
  return value;
}

bool PageRegisters::ReadBlock(uint16_t first, uint16_t count, std::vector<uint16_t>* values) {
  values->assign(count, 0);
  if (!connected_ || count == 0) return false;
  return link_.Read(ToModule(first), count, values->data());
}

bool PageRegisters::WriteOne(uint16_t reg, uint16_t value) {
  return connected_ && link_.Write(ToModule(reg), value);
}

bool PageRegisters::SaveToFlash(uint16_t reg, uint16_t value) {
  return connected_ && link_.SaveToFlash(ToModule(reg), value);
}

std::string NodeAddressText(const std::string& network, int node) {
  if (node < 1 || node > 236) return std::string();
  std::string refusal;
  const auto address = params::ParseDottedAddress(network, &refusal);
  if (!address) return std::string();
  return params::AddressText(params::NodeAddress(*address, node));
}

std::vector<std::string> RangeAddresses(const std::string& network, int from, int to) {
  std::vector<std::string> addresses;
  if (to == 0) to = from;
  if (from < 1 || to < from || to > 236) return addresses;
  for (int node = from; node <= to; ++node) {
    std::string address = NodeAddressText(network, node);
    if (address.empty()) return {};
    addresses.push_back(std::move(address));
  }
  return addresses;
}

std::string NotSavedText(const std::string& address, const std::string& setting, bool inModule) {
  if (!inModule)
    return base::Format("module %s: %s was not written; it is not saved", address.c_str(),
                        setting.c_str());
  return base::Format(
      "module %s: %s is not saved: the module did not confirm the save to flash within 3000 ms "
      "(it holds the setting only until it restarts)",
      address.c_str(), setting.c_str());
}

std::string FailedModulesText(const std::string& operation,
                              const std::vector<std::string>& failedAddresses) {
  std::string text =
      base::Format("%s failed on %zu module(s):\n", operation.c_str(), failedAddresses.size());
  for (const std::string& address : failedAddresses)
    text += base::Format("%s: not written or not saved\n", address.c_str());
  return text;
}

}  // namespace pages
