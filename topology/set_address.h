#pragma once
// Change of a module's IP address, subnet mask and gateway before an AutoConfig from it
// (CDlg_AutoConfigTo): the checks of the typed addresses, the 28-byte set-address packet, the
// wait for the module's answer and the comparison of what it took. Toolkit-free: the dialog and
// quillmar-cli set-ip both run ChangeNodeAddress and differ only in how they ask and show.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/prompt.h"
#include "discovery/inventory.h"
#include "params/target.h"

class CMRegApp;

namespace topology {

constexpr uint32_t kFirstSetAddressSequence = 0x80000501u;
constexpr uint32_t kSetAddressAnswerMs = 2000;
constexpr size_t kSetAddressPacketLength = 28;
constexpr uint8_t kSetAddressDataLength = 20;
using SetAddressPacket = std::array<uint8_t, kSetAddressPacketLength>;

// The dialog's own packet numbers: from 0x80000501, one more for every packet sent.
class SetAddressSequence {
 public:
  uint32_t Take() { return next_.fetch_add(1); }
  uint32_t Next() const { return next_.load(); }

 private:
  std::atomic<uint32_t> next_{kFirstSetAddressSequence};
};

// What the user typed. Blank IP address, mask or gateway texts keep the module's own.
struct SetAddressRequest {
  std::string ip;
  std::string mask;
  bool gatewayBox = false;  // without it the gateway is the new IP address
  std::string gateway;
};

enum class AddressField { None, Ip, Mask, Gateway };

// The addresses the packet will carry, or the field that was refused.
struct CheckedAddresses {
  AddressField refused = AddressField::None;
  std::string reason;  // why, in words (for the command line; the dialog only beeps)
  params::Ipv4Bytes ip{};
  params::Ipv4Bytes mask{};
  params::Ipv4Bytes gateway{};
  bool gatewayGiven = false;

  bool Refused() const { return refused != AddressField::None; }
};

// First or last octet 255 (an IP address or gateway that is a broadcast) is refused, as is a
// text that is no dotted address and a mask whose one bits are not contiguous.
CheckedAddresses CheckSetAddress(const CNode_Data& node, const SetAddressRequest& request);

// The packet: header (code 0x20, data length 20, the sequence as the other requests carry it),
// then the node's recordCopy with the new address, mask and gateway at offsets 12, 16 and 20.
SetAddressPacket BuildSetAddressPacket(
    uint32_t sequence, const std::array<uint8_t, CNode_Data::kRecordCopySize>& record,
    const CheckedAddresses& addresses);

enum class SetAddressResult { Refused, Ok, Cancel };

struct SetAddressContext {
  CMRegApp& app;
  base::Prompt& prompt;
  SetAddressSequence& sequence;
};

// The action button: checks (a refusal beeps, sends nothing and returns Refused with the field
// in *refusedField), sends the packet once, waits up to 2000 ms for the module's answer and
// compares the node record with the request. Every failure shows its text and returns Cancel;
// Ok means the module took the new settings and the node record carries them.
SetAddressResult ChangeNodeAddress(SetAddressContext& context, const NodePtr& node,
                                   const SetAddressRequest& request,
                                   CheckedAddresses* checked = nullptr);

extern const char* const kTextSetAddressNoAnswer;
extern const char* const kTextSetAddressIpNotChanged;
extern const char* const kTextSetAddressMaskNotChanged;
extern const char* const kTextSetAddressGatewayNotChanged;
extern const char* const kTitleSetAddress;

}  // namespace topology
