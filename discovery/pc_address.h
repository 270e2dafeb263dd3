#pragma once
// The PC's own address that a module should send to (Debugging's debug address): the address of
// the selected adapter that fits the module's network.
#include <optional>
#include <string>

class CMRegApp;

namespace discovery {

// nullopt when no adapter address fits `moduleAddress`.
std::optional<std::string> PcAddressFor(CMRegApp& app, const std::string& moduleAddress);

}  // namespace discovery
