// Typed module targets and numbers: the parsers never read past the text, and whatever they
// accept prints back as the same value.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/numbers.h"
#include "params/target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const params::ModuleTarget target = params::ParseTarget(text);
  if (!target.Refused()) {
    using Kind = params::ModuleTarget::Kind;
    if (target.kind == Kind::Node && (target.node < 1 || target.node > 236)) std::abort();
    if (target.kind == Kind::Address) {
      const auto again = params::ParseDottedAddress(params::AddressText(target.address), nullptr);
      if (!again || *again != target.address) std::abort();
    }
    if (target.kind == Kind::Serial && target.serial == 0) std::abort();
  }
  for (const auto base : {base::NumberBase::Decimal, base::NumberBase::DecimalOrHex}) {
    const base::ParsedNumber number = base::ParseWholeNumber(text, 1, 65535, base);
    if (number.value && (*number.value < 1 || *number.value > 65535)) std::abort();
    if (number.value.has_value() == !number.refusal.empty()) std::abort();
  }
  return 0;
}
