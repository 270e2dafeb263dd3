#pragma once
// The register map of one module as the node screen works with it: the register image, the
// mirror map, the register operations the screens use, the read groups of a refresh with their
// after-steps and extended reads, and the command-block algorithms (save, format).
//
// Toolkit-free and single-threaded: the node screen's worker owns one RegisterMap and calls it
// from its own thread. The wire side is a RegisterAccess, so that the screen can put its ping
// in front of every block read and tests can script a module.
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "params/mirror_map.h"
#include "params/register_image.h"

class CBlockingSocket;

namespace params {

// The register traffic the map needs. Values in host order, register numbers as the module
// knows them (the map has translated them already). Reads and writes return false for a
// refused or unmatched answer and throw CBlockingSocketException on failures.
class RegisterAccess {
 public:
  virtual ~RegisterAccess() = default;
  virtual bool ReadRegisters(uint16_t first, uint16_t count, uint16_t* hostValues) = 0;
  virtual bool WriteRegister(uint16_t reg, uint16_t hostValue) = 0;
  virtual bool WriteRegisters(uint16_t first, uint16_t count, const uint16_t* hostValues) = 0;
  // The value (function 6), then [3, reg, 1] into 251..253, then the poll of 253.
  virtual bool SaveToFlash(uint16_t reg, uint16_t hostValue) = 0;
  // [3, first, count] into 251..253, then the poll of 253.
  virtual bool SaveToFlashGroup(uint16_t first, uint16_t count) = 0;
  virtual void Pause(uint32_t ms);
};

// RegisterAccess over a connected register client (CBlockingSocket).
class ClientRegisterAccess : public RegisterAccess {
 public:
  explicit ClientRegisterAccess(CBlockingSocket& client) : client_(client) {}
  bool ReadRegisters(uint16_t first, uint16_t count, uint16_t* hostValues) override;
  bool WriteRegister(uint16_t reg, uint16_t hostValue) override;
  bool WriteRegisters(uint16_t first, uint16_t count, const uint16_t* hostValues) override;
  bool SaveToFlash(uint16_t reg, uint16_t hostValue) override;
  bool SaveToFlashGroup(uint16_t first, uint16_t count) override;
  CBlockingSocket& client() { return client_; }

 private:
  CBlockingSocket& client_;
};

// Register numbers of the map.
namespace reg {
inline constexpr uint16_t kVariant = 6;
inline constexpr uint16_t kPlcMode = 12;
inline constexpr uint16_t kHardwareRevision = 17;  // high byte = module family
inline constexpr uint16_t kModuleType = 18;
inline constexpr uint16_t kIdentification = 19;
inline constexpr uint16_t kFirmware = 25;
inline constexpr uint16_t kZoneUseA = 90;
inline constexpr uint16_t kZoneUseB = 170;
inline constexpr uint16_t kCommand = 251;
inline constexpr uint16_t kCommandFirst = 252;
inline constexpr uint16_t kCommandCount = 253;
inline constexpr uint16_t kPlcLink = 254;
inline constexpr uint16_t kPseudoLeft = 10002;
inline constexpr uint16_t kPseudoRight = 10102;
inline constexpr uint16_t kSaveCommand = 3;
inline constexpr uint16_t kFormatCommand = 100;
}  // namespace reg

// One read of a refresh: which registers, and which text a failure logs.
struct ReadGroup {
  int group;  // 1..5, 8; 0 for the single reads (6..12, 254)
  uint16_t first;
  uint16_t count;
};
// The groups of the table: 5 = 17..36, 1 = 40..64, 2 = 64..88, 3 = 90..117, 4 = 170..197,
// 8 = 279..294.
std::optional<ReadGroup> GroupRegisters(int group);

class RegisterMap {
 public:
  static constexpr int kMaxExtendedFailures = 10;  // the count stops growing here
  static constexpr int kExtendedFailureLimit = 7;  // from here on the long extended reads stop
  static constexpr uint32_t kFormatLimitMs = 30000;
  static constexpr uint32_t kFormatPollMs = 100;

  explicit RegisterMap(RegisterAccess& access) : access_(access) {}

  // ---- image and mirror map ----
  RegisterImage& image() { return image_; }
  const RegisterImage& image() const { return image_; }
  // The mirror map needs an image; the node screen always has one. Dropping the image also
  // clears it.
  void SetImagePresent(bool present);
  bool ImagePresent() const { return imagePresent_; }
  bool MirrorInForce() const;
  // The number sent to the module for `reg` (mapped while the mirror map is in force).
  uint16_t ToModule(uint16_t reg) const;
  // The value of `reg` as the screen sees it: the image slot of its mapped number.
  uint16_t Value(uint16_t reg) const;
  // Slots filled by a read since the map was made (or the image dropped).
  const std::bitset<RegisterImage::kSize>& ReadSlots() const { return readSlots_; }
  uint8_t Family() const { return static_cast<uint8_t>(Value(reg::kHardwareRevision) >> 8); }
  uint16_t ModuleType() const { return Value(reg::kModuleType); }

  // ---- register operations of the screens (numbers pass through the mirror map) ----
  // One function-3 read stored into the image at the numbers sent. False for an unmatched
  // answer; failures throw the client's exception.
  bool ReadBlock(uint16_t first, uint16_t count);
  std::optional<uint16_t> ReadOne(uint16_t reg);
  bool WriteOne(uint16_t reg, uint16_t value);
  bool WriteBlock(uint16_t first, uint16_t count, const uint16_t* values);
  bool SaveToFlash(uint16_t reg, uint16_t value);
  bool SaveToFlashGroup(uint16_t first, uint16_t count);

  // ---- reads of a refresh ----
  struct ReadOutcome {
    bool ok = true;
    std::string error;  // the text logged, e.g. "Read Reg Group 3 Error"
  };
  // Groups 5, 1, 2, 3, 4, then 6..12, and 254 on family 0x02.
  ReadOutcome FullRead();
  // The rotating group, then group 5, 50 ms, group 8, 50 ms.
  ReadOutcome RotatingRead(int rotatingGroup);
  // One group with its after-steps (1 and 2: extended read; 2: 50 ms and 254; 3 and 4: zone use
  // cleared on module types 2 and 5). Exceptions and unmatched answers give ok = false with
  // "Read Reg Group %d Error"; the caller decides what to log.
  ReadOutcome ReadGroupWithSteps(int group);
  int extendedFailures() const { return extendedFailures_; }
  // Another module is about to be read: its image starts empty and its extended reads are
  // tried again.
  void ForgetModule();
  void RetryExtendedReads() { extendedFailures_ = 0; }

  // ---- command block ----
  // Clear and save all ("Format Flash"): 251 = 100, then reads 251 until it is 0. Gives up
  // after limitMs (never waits without bound) and reports false.
  bool FormatFlash(uint32_t limitMs = kFormatLimitMs);

 private:
  bool ReadStep(uint16_t first, uint16_t count);  // ReadBlock with exceptions turned into false
  void ExtendedRead(bool leftDrive);
  void CountExtendedFailure();

  RegisterAccess& access_;
  RegisterImage image_;
  void MarkRead(uint16_t first, uint16_t count);

  std::bitset<RegisterImage::kSize> readSlots_;
  bool imagePresent_ = true;
  int extendedFailures_ = 0;
};

// The standalone save of a register pair, for places without a screen connection: a new
// connection to port 502 (3000 ms time-out), R1 = V1 and R2 = V2 with function 6, then
// 252 = R1, 253 = 2 and last 251 = 3, each with function 6; 500 ms; close. No poll. Register
// numbers pass through the mirror map when `reversed`. True when every write was confirmed.
bool SaveRegisterPairStandalone(const std::string& ipText, uint16_t r1, uint16_t v1, uint16_t r2,
                                uint16_t v2, bool reversed, uint16_t port = 502);

}  // namespace params
