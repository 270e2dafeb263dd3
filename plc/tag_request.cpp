#include "plc/tag_request.h"

#include <atomic>

#include "base/bytes.h"
#include "base/format.h"

namespace plc {

namespace {
std::atomic<uint16_t> g_lastId{0};
}  // namespace

uint16_t NextTagRequestId() {
  return static_cast<uint16_t>(g_lastId.fetch_add(1) + 1);
}

CTagRequest CTagRequest::Make(const std::string& address, uint16_t kind, uint16_t dataAddress,
                              uint16_t count, uint16_t valueSize, uint32_t value) {
  CTagRequest r;
  r.address = address.empty() ? std::string(kBroadcastText) : address.substr(0, 32);
  r.id = NextTagRequestId();
  r.kind = kind;
  r.length = static_cast<uint16_t>(4 + valueSize);
  r.dataAddress = dataAddress;
  r.count = count;
  r.requestLength = static_cast<uint32_t>(kRequestHeader + valueSize);
  uint8_t* p = r.request.data();
  base::PutLE16(p + 0, r.id);
  base::PutLE16(p + 2, r.kind);
  base::PutLE16(p + 4, r.length);
  base::PutLE16(p + 6, r.reserved);
  base::PutLE16(p + 8, r.dataAddress);
  base::PutLE16(p + 10, r.count);
  for (uint16_t i = 0; i < valueSize; ++i)
    p[kRequestHeader + i] = static_cast<uint8_t>(value >> (8 * i));
  return r;
}

CTagRequest CTagRequest::Read(const std::string& address, uint16_t dataAddress, uint16_t count) {
  return Make(address, kKindRead, dataAddress, count, 0, 0);
}

CTagRequest CTagRequest::Write(const std::string& address, uint16_t dataAddress, uint16_t size,
                               uint32_t value) {
  const uint16_t valueSize = (size == 1 || size == 2) ? size : 4;
  return Make(address, kKindWrite, dataAddress, valueSize, valueSize, value);
}

CTagRequest CTagRequest::Bit(const std::string& address, uint16_t dataAddress, uint16_t bit,
                             bool set) {
  return Make(address, set ? kKindSetBit : kKindClearBit, dataAddress, bit, 0, 0);
}

bool CTagRequest::IsBroadcast() const {
  return address.size() <= 6 || address == kBroadcastText;
}

AnswerView InspectAnswer(const uint8_t* data, size_t length) {
  AnswerView view;
  if (!data || length < 3) return view;
  view.status = data[2];
  view.isAnswer = (view.status & 0xC0) != 0;
  view.error = view.status >= 0x80;
  if (length >= kAnswerHeader) {
    view.matchable = true;
    view.id = base::GetLE16(data);
  }
  return view;
}

std::string StateText(uint32_t state) {
  switch (state) {
    case kStateQueued:
      return "queued";
    case kStateSent:
      return "sent";
    case kStateAnswered:
      return "answered";
    case kStateError:
      return "error answer";
    case kStateSendFailed:
      return "send failed";
    case kStateNoAnswer:
      return "no answer";
    default:
      return base::Format("state 0x%X", state);
  }
}

}  // namespace plc
