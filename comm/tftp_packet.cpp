#include "comm/tftp_packet.h"

#include <array>
#include <cstring>

#include "base/format.h"

void CTFTPPacket::Clear() {
  std::memset(data_, 0, sizeof data_);
  length_ = 0;
}

bool CTFTPPacket::AddMem(const void* bytes, size_t length) {
  if (length_ < 0) return false;
  if (length >= static_cast<size_t>(kCapacity) ||
      static_cast<size_t>(length_) + length >= static_cast<size_t>(kCapacity)) {
    length_ = -1;
    return false;
  }
  if (length) std::memcpy(data_ + length_, bytes, length);
  length_ += static_cast<int>(length);
  return true;
}

bool CTFTPPacket::AddByte(uint8_t value) {
  return AddMem(&value, 1);
}

bool CTFTPPacket::AddString(const std::string& text) {
  return AddMem(text.data(), text.size());
}

bool CTFTPPacket::AddWord(uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return AddMem(bytes, 2);
}

uint16_t CTFTPPacket::GetWord(int offset) const {
  if (offset < 0 || length_ < 0 || offset + 2 > length_) return 0;
  return static_cast<uint16_t>(data_[offset] << 8 | data_[offset + 1]);
}

bool CTFTPPacket::GetMem(int offset, uint8_t* out, size_t capacity, size_t* copied) const {
  if (copied) *copied = 0;
  if (offset < 0 || length_ < 0 || offset > length_) return false;
  const size_t rest = static_cast<size_t>(length_ - offset);
  if (rest > capacity) return false;
  if (rest) std::memcpy(out, data_ + offset, rest);
  if (copied) *copied = rest;
  return true;
}

void CTFTPPacket::SetSize(int length) {
  length_ = length < 0 || length > kCapacity ? -1 : length;
}

bool CTFTPPacket::MakeRequest(uint16_t opcode, const std::string& file, uint32_t tsize) {
  Clear();
  if (file.size() > tftp::kMaxFileName) {
    length_ = -1;
    return false;
  }
  const std::string size = std::to_string(tsize);
  return AddWord(opcode) && AddString(file) && AddByte(0) && AddString("octet") && AddByte(0) &&
         AddString("tsize") && AddByte(0) && AddString(size) && AddByte(0);
}

bool CTFTPPacket::MakeData(uint16_t block, const uint8_t* bytes, size_t length) {
  Clear();
  if (length > tftp::kBlockSize) {
    length_ = -1;
    return false;
  }
  return AddWord(tftp::kOpData) && AddWord(block) && AddMem(bytes, length);
}

bool CTFTPPacket::MakeAck(uint16_t block) {
  Clear();
  return AddWord(tftp::kOpAck) && AddWord(block);
}

namespace tftp {

std::optional<std::string> ErrorText(const CTFTPPacket& packet) {
  if (packet.Size() < 4 || Opcode(packet) != kOpError) return std::nullopt;
  const uint8_t* message = packet.Data() + 4;
  const size_t available = static_cast<size_t>(packet.Size()) - 4;
  const void* end = std::memchr(message, 0, available);
  const size_t length =
      end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - message) : available;
  if (length + 10 > 1024) return std::string("Can't get error.");
  const std::string text(reinterpret_cast<const char*>(message), length);
  return base::Format("#%i:%s", static_cast<int>(packet.GetWord(2)), text.c_str());
}

bool IsRequestAck(const CTFTPPacket& packet, uint16_t block) {
  if (packet.Size() == 4 && Opcode(packet) == kOpAck && packet.GetWord(2) == block) return true;
  return packet.Size() > 4 && Opcode(packet) == kOpError && packet.GetWord(2) == 10;
}

std::optional<DataView> ParseData(const CTFTPPacket& packet) {
  if (packet.Size() < 4 || Opcode(packet) != kOpData) return std::nullopt;
  DataView view;
  view.block = packet.GetWord(2);
  view.bytes = packet.Data() + 4;
  view.length = static_cast<size_t>(packet.Size()) - 4;
  return view;
}

namespace {

// The standard pair of tables: high and low byte of the CRC for each index.
struct CrcTables {
  std::array<uint8_t, 256> high{};
  std::array<uint8_t, 256> low{};
  CrcTables() {
    for (int i = 0; i < 256; ++i) {
      uint16_t crc = static_cast<uint16_t>(i);
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                        : static_cast<uint16_t>(crc >> 1);
      low[i] = static_cast<uint8_t>(crc);
      high[i] = static_cast<uint8_t>(crc >> 8);
    }
  }
};

}  // namespace

uint16_t Crc16Modbus(const uint8_t* data, size_t length) {
  static const CrcTables tables;
  uint8_t low = 0xFF, high = 0xFF;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t index = low ^ data[i];
    low = static_cast<uint8_t>(high ^ tables.low[index]);
    high = tables.high[index];
  }
  return static_cast<uint16_t>(high << 8 | low);
}

}  // namespace tftp
