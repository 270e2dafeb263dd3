#pragma once
// What a backup keeps of one module: everything needed to bring an identical replacement module
// to the same configuration.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace backup {

// Register slots by firmware version (major.minor): slot 0 is unused, so one more than the
// registers read.
inline constexpr uint16_t kSlotsBefore3_19 = 364;
inline constexpr uint16_t kSlotsFrom3_19 = 384;
inline constexpr uint16_t kSlotsFrom4_1 = 513;
// The register image never holds more; a record claiming more is not a module's.
inline constexpr uint16_t kMaxRegisterSlots = 513;
// Version 1 files carry no register count.
inline constexpr uint16_t kVersion1RegisterCount = 363;
inline constexpr uint16_t kExtendedRegisterCount = 200;
inline constexpr size_t kNodeBlockSize = 64;
// A PLC program ends with its own 2-byte CRC; a program of 1 byte cannot be one.
inline constexpr uint32_t kPlcCrcSize = 2;

// The slot count for a module's firmware version (high byte major, low byte minor).
uint16_t RegisterSlotsFor(uint16_t firmwareVersion);

struct CNode_DataBackup {
  uint32_t serialNumber = 0;
  std::string ipText;
  std::string maskText;
  std::string gatewayText;
  uint32_t ipAddress = 0;  // the 4 address bytes in network order, as they lie in memory
  uint8_t linePosition = 0xFF;
  uint8_t moduleFamily = 1;  // not kept in the file; 1 after loading
  uint16_t firmwareVersion = 0;
  uint16_t registerCount = 0;  // slots, register numbers 0 .. count - 1
  uint16_t extendedRegisterCount = 0;
  std::array<uint8_t, kNodeBlockSize> nodeBlock{};
  // The words below are kept as the module sent them: registers and flash image in Modbus wire
  // order (high byte first), so RegisterValue() gives a register's value.
  std::vector<uint16_t> extendedRegisters;
  std::vector<uint16_t> registers;
  std::vector<uint16_t> flashImage;
  uint8_t legacyByte = 0;
  uint32_t legacyWord = 0;
  std::vector<uint32_t> legacyList;
  std::vector<uint8_t> plcProgram;  // its length is the PLC program length; empty when none
  std::array<uint64_t, 3> serviceFigures{};
  std::string comment;

  bool operator==(const CNode_DataBackup&) const = default;
};

// A register's value from a word kept in wire order, and back.
inline uint16_t RegisterValue(uint16_t wireWord) {
  return static_cast<uint16_t>((wireWord >> 8) | (wireWord << 8));
}
inline uint16_t WireWord(uint16_t value) {
  return RegisterValue(value);
}

}  // namespace backup
