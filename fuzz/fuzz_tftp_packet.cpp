// The TFTP client's checks of a received packet: the ERROR text, the request's ACK, a DATA
// block and the packet's own reads. Nothing may read past the bytes received.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "comm/tftp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(CTFTPPacket::kCapacity)) return 0;
  CTFTPPacket packet;
  if (size) std::memcpy(packet.Buffer(), data, size);
  packet.SetSize(static_cast<int>(size));
  if (const auto text = tftp::ErrorText(packet)) {
    if (text->size() > 1024 + 8) __builtin_trap();
  }
  (void)tftp::IsRequestAck(packet, 0);
  if (const auto view = tftp::ParseData(packet)) {
    if (view->bytes + view->length != packet.Data() + size) __builtin_trap();
  }
  for (int offset = -1; offset <= static_cast<int>(size) + 1; ++offset)
    (void)packet.GetWord(offset);
  std::vector<uint8_t> out(512 + 1, 0x5A);
  size_t copied = 0;
  if (packet.GetMem(4, out.data(), 512, &copied) && (copied > 512 || out[512] != 0x5A))
    __builtin_trap();
  if (size) (void)tftp::Crc16Modbus(data, size);
  return 0;
}
