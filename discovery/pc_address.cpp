#include "discovery/pc_address.h"

#include "discovery/discover.h"

namespace discovery {

std::optional<std::string> PcAddressFor(CMRegApp& app, const std::string& moduleAddress) {
  std::string address;
  if (!AdapterAddressFor(app, moduleAddress, &address, nullptr)) return std::nullopt;
  if (address.empty() || address == "0.0.0.0") return std::nullopt;
  return address;
}

}  // namespace discovery
