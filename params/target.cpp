#include "params/target.h"

#include <vector>

#include "base/format.h"
#include "base/numbers.h"
#include "params/display_items.h"
#include "params/units.h"

namespace params {
namespace {

constexpr std::string_view kSerialPrefix = "sn:";
constexpr uint64_t kLastSerial = 0xFFFFFFFFu;

bool StartsWithSerialPrefix(std::string_view text) {
  if (text.size() < kSerialPrefix.size()) return false;
  for (size_t i = 0; i < kSerialPrefix.size(); ++i) {
    const char c = text[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kSerialPrefix[i]) return false;
  }
  return true;
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::optional<Ipv4Bytes> ParseDottedAddress(std::string_view text, std::string* refusal) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  const auto refuse = [&](const std::string& why) -> std::optional<Ipv4Bytes> {
    if (refusal != nullptr) *refusal = why;
    return std::nullopt;
  };
  const std::string shown = base::QuotedInput(text);
  if (parts.size() != 4) {
    return refuse(shown + " is not an IPv4 address (four decimal numbers 0 to 255)");
  }
  Ipv4Bytes bytes{};
  for (size_t i = 0; i < 4; ++i) {
    const base::ParsedNumber part = base::ParseWholeNumber(parts[i], 0, 255);
    if (!part.value) {
      return refuse(shown + base::Format(" is not an IPv4 address (four decimal numbers 0 to 255): "
                                         "part %zu: %s",
                                         i + 1, part.refusal.c_str()));
    }
    bytes[i] = static_cast<uint8_t>(*part.value);
  }
  return bytes;
}

ModuleTarget ParseTarget(std::string_view text) {
  ModuleTarget target;
  if (StartsWithSerialPrefix(text)) {
    target.kind = ModuleTarget::Kind::Serial;
    const base::ParsedNumber serial =
        base::ParseWholeNumber(text.substr(kSerialPrefix.size()), 1, kLastSerial);
    if (!serial.value) {
      target.refusal =
          base::QuotedInput(text) + base::Format(": a serial number is sn: and 1 to %llu (%s)",
                                                 static_cast<unsigned long long>(kLastSerial),
                                                 serial.refusal.c_str());
      return target;
    }
    target.serial = static_cast<uint32_t>(*serial.value);
    return target;
  }
  if (text.find('.') != std::string_view::npos) {
    target.kind = ModuleTarget::Kind::Address;
    if (const auto address = ParseDottedAddress(text, &target.refusal)) target.address = *address;
    return target;
  }
  target.kind = ModuleTarget::Kind::Node;
  if (AllDigits(text)) {
    // Any run of digits is a node number; one outside 1..236 (however long) gets the node
    // screen's message.
    const auto node = base::WholeNumber(text, kFirstNode, kLastNode);
    if (!node) {
      target.refusal = CheckNodeNumber(0).value_or(std::string());
      return target;
    }
    target.node = static_cast<int>(*node);
    return target;
  }
  target.refusal = base::QuotedInput(text) +
                   " is neither a node number (1 to 236, decimal), an IPv4 address nor sn:SERIAL";
  return target;
}

std::string AddressText(const Ipv4Bytes& address) {
  return base::Format("%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
}

Ipv4Bytes NodeAddress(const Ipv4Bytes& network, int node) {
  return {network[0], network[1], network[2], static_cast<uint8_t>(NodeHostByte(node))};
}

}  // namespace params
