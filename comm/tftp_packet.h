#pragma once
// One TFTP packet (RFC 1350 with the tsize option of RFC 2349, octet mode) as the client builds
// and receives it, and the checks the client makes on received packets. Every read is bounded
// by the bytes really present.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tftp {

inline constexpr uint16_t kOpRrq = 1;
inline constexpr uint16_t kOpWrq = 2;
inline constexpr uint16_t kOpData = 3;
inline constexpr uint16_t kOpAck = 4;
inline constexpr uint16_t kOpError = 5;
inline constexpr uint32_t kBlockSize = 512;
inline constexpr uint32_t kMaxBlocks = 65535;  // block numbers are 16 bits and never wrap
inline constexpr size_t kMaxFileName = 512;

}  // namespace tftp

class CTFTPPacket {
 public:
  static constexpr int kCapacity = 1024;

  CTFTPPacket() { Clear(); }

  void Clear();
  // Each append refuses (and marks the packet invalid) what would make it reach 1024 bytes.
  bool AddByte(uint8_t value);
  bool AddMem(const void* bytes, size_t length);
  bool AddString(const std::string& text);  // without its terminator
  bool AddWord(uint16_t value);             // network order
  // The word at offset in network order; 0 when it is not wholly inside the packet.
  uint16_t GetWord(int offset) const;
  // Copies the bytes from offset to the end into out; refused when the offset is past the end
  // or the rest does not fit capacity. *copied gets the count.
  bool GetMem(int offset, uint8_t* out, size_t capacity, size_t* copied) const;

  int Size() const { return length_; }
  bool Valid() const { return length_ >= 0; }
  bool Empty() const { return length_ == 0; }
  const uint8_t* Data() const { return data_; }
  // For a receive: the whole buffer, then SetSize with what came.
  uint8_t* Buffer() { return data_; }
  void SetSize(int length);

  // Builders of the packet shapes. False (packet invalid) when a part does not fit.
  bool MakeRequest(uint16_t opcode, const std::string& file, uint32_t tsize);
  bool MakeData(uint16_t block, const uint8_t* bytes, size_t length);
  bool MakeAck(uint16_t block);

 private:
  uint8_t data_[kCapacity];
  int length_ = 0;
};

namespace tftp {

inline uint16_t Opcode(const CTFTPPacket& packet) {
  return packet.GetWord(0);
}

// The last-error text of an ERROR packet of at least 4 bytes: "#%i:%s" (code, message up to
// its terminator or the end of the packet); "Can't get error." when the message plus 10 would
// not fit 1024 characters. nullopt for any other packet.
std::optional<std::string> ErrorText(const CTFTPPacket& packet);

// The answer that a write request waits for (block 0): exactly 4 bytes, opcode 4 and the block
// number; or an ERROR longer than 4 bytes with code 10, which the modules send instead.
bool IsRequestAck(const CTFTPPacket& packet, uint16_t block);

// A DATA packet: at least 4 bytes with opcode 3. Its block and data part (in the packet).
struct DataView {
  uint16_t block = 0;
  const uint8_t* bytes = nullptr;
  size_t length = 0;
};
std::optional<DataView> ParseData(const CTFTPPacket& packet);

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR, computed
// byte-wise with the standard pair of 256-entry tables.
uint16_t Crc16Modbus(const uint8_t* data, size_t length);

}  // namespace tftp
