// The backup file: versions 1 to 8 read field by field as the file format gives them, version 8
// written byte for byte, newer versions and the other family refused, and corrupt files loaded
// as nothing at all.
#include "backup/backup_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using backup::CNode_DataBackup;
using backup::LoadStatus;

void Le16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Le32(Bytes& b, uint32_t v) {
  Le16(b, v & 0xFFFF);
  Le16(b, v >> 16);
}
void Le64(Bytes& b, uint64_t v) {
  Le32(b, static_cast<uint32_t>(v));
  Le32(b, static_cast<uint32_t>(v >> 32));
}
// Short texts only: one length byte.
void ShortText(Bytes& b, const std::string& s) {
  b.push_back(static_cast<uint8_t>(s.size()));
  b.insert(b.end(), s.begin(), s.end());
}
void Append(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
}

// One record as a file of `version` holds it, field by field in file order; the raw counts and
// lengths can be set apart from the data so that a test can make them lie.
struct RawRecord {
  uint32_t serial = 77161;
  std::string ip = "10.1.2.21", mask = "255.255.255.0", gateway = "10.1.2.1";
  Bytes address = {10, 1, 2, 21};
  uint8_t position = 2;
  uint16_t firmware = 0x0413;
  uint16_t registerCount = 4;
  Bytes nodeBlockCount = {0x40, 0x00};
  Bytes nodeBlock = Bytes(64, 0);
  Bytes registersCount = {0x04, 0x00};
  Bytes registers = {0x00, 0x00, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x07};  // wire order
  Bytes legacy = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00};                 // byte, word, list count 0
  std::optional<uint32_t> plcLength;                                   // else the program's size
  Bytes plc = {0xDE, 0xAD, 0xBE, 0xEF};
  Bytes flashCount = {0x04, 0x00};
  Bytes flash = {0x00, 0x00, 0x56, 0x78, 0x9A, 0xBC, 0x00, 0x01};
  uint16_t extendedCount = 0;
  Bytes extended = {0x00, 0x00};  // count, then words
  uint64_t figures[3] = {1, 0x0102030405060708ull, 0};

  Bytes Encode(uint16_t version) const {
    Bytes b;
    Le32(b, serial);
    ShortText(b, ip);
    ShortText(b, mask);
    ShortText(b, gateway);
    Append(b, address);
    b.push_back(position);
    if (version > 1) {
      Le16(b, firmware);
      Le16(b, registerCount);
    }
    Append(b, nodeBlockCount);
    Append(b, nodeBlock);
    Append(b, registersCount);
    Append(b, registers);
    if (version >= 3) Append(b, legacy);
    if (version > 3) {
      Le32(b, plcLength.value_or(static_cast<uint32_t>(plc.size())));
      Append(b, plc);
    }
    if (version > 4) {
      Append(b, flashCount);
      Append(b, flash);
    }
    if (version > 6) {
      Le16(b, extendedCount);
      Append(b, extended);
    }
    if (version > 7) {
      for (uint64_t f : figures) Le64(b, f);
    }
    return b;
  }
};

Bytes Header(uint16_t version, uint16_t records, uint16_t family = 0) {
  Bytes b;
  if (version == 1) {
    Le16(b, records);
    return b;
  }
  Le16(b, 0);
  Le16(b, version);
  Le16(b, records);
  if (version > 6) {
    Le16(b, family);
    Le16(b, 0);
  }
  return b;
}

Bytes File(uint16_t version, const std::vector<RawRecord>& records) {
  Bytes b = Header(version, static_cast<uint16_t>(records.size()));
  for (const RawRecord& r : records) Append(b, r.Encode(version));
  return b;
}

// The whole version 8 file of one RawRecord, written out byte by byte.
// clang-format off
const Bytes kVersion8File = [] {
  Bytes b = {
      0x00, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,  // header: version 8, 1 record
      0x69, 0x2D, 0x01, 0x00,                                      // serial 77161
      0x09, '1', '0', '.', '1', '.', '2', '.', '2', '1',           // IP text
      0x0D, '2', '5', '5', '.', '2', '5', '5', '.', '2', '5', '5', '.', '0',  // mask text
      0x08, '1', '0', '.', '1', '.', '2', '.', '1',                // gateway text
      0x0A, 0x01, 0x02, 0x15,                                      // address, network order
      0x02,                                                        // last in line
      0x13, 0x04,                                                  // firmware 4.19
      0x04, 0x00,                                                  // register slots
      0x40, 0x00};                                                 // node block count
  b.insert(b.end(), 64, 0x00);                                     // node block
  const Bytes rest = {
      0x04, 0x00, 0x00, 0x00, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x07,  // registers, wire order
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                          // legacy byte, word, list
      0x04, 0x00, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF,              // PLC program
      0x04, 0x00, 0x00, 0x00, 0x56, 0x78, 0x9A, 0xBC, 0x00, 0x01,  // flash image
      0x00, 0x00, 0x00, 0x00,                                      // no extended registers
      0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // service figure 1
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,              // service figure 2
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};             // service figure 3
  Append(b, rest);
  return b;
}();
// clang-format on

TEST(BackupFile, Version8FileReadsFieldByField) {
  ASSERT_EQ(File(8, {RawRecord{}}), kVersion8File);  // the fixture says what the bytes say
  const backup::LoadResult loaded = backup::ParseBackupFile(kVersion8File);
  ASSERT_EQ(loaded.status, LoadStatus::kLoaded);
  EXPECT_EQ(loaded.version, 8);
  ASSERT_EQ(loaded.records.size(), 1u);
  const CNode_DataBackup& r = loaded.records[0];
  EXPECT_EQ(r.serialNumber, 77161u);
  EXPECT_EQ(r.ipText, "10.1.2.21");
  EXPECT_EQ(r.maskText, "255.255.255.0");
  EXPECT_EQ(r.gatewayText, "10.1.2.1");
  const uint8_t* address = reinterpret_cast<const uint8_t*>(&r.ipAddress);
  EXPECT_EQ(Bytes(address, address + 4), (Bytes{10, 1, 2, 21}));
  EXPECT_EQ(r.linePosition, 2);
  EXPECT_EQ(r.moduleFamily, 1);
  EXPECT_EQ(r.firmwareVersion, 0x0413);
  EXPECT_EQ(r.registerCount, 4);
  ASSERT_EQ(r.registers.size(), 4u);
  EXPECT_EQ(backup::RegisterValue(r.registers[1]), 0x1234);
  EXPECT_EQ(backup::RegisterValue(r.registers[2]), 0xABCD);
  EXPECT_EQ(backup::RegisterValue(r.registers[3]), 0x0007);
  ASSERT_EQ(r.flashImage.size(), 4u);
  EXPECT_EQ(backup::RegisterValue(r.flashImage[1]), 0x5678);
  EXPECT_EQ(r.plcProgram, (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(r.extendedRegisterCount, 0);
  EXPECT_TRUE(r.extendedRegisters.empty());
  EXPECT_EQ(r.serviceFigures[0], 1u);
  EXPECT_EQ(r.serviceFigures[1], 0x0102030405060708ull);
  EXPECT_EQ(r.serviceFigures[2], 0u);
}

TEST(BackupFile, Version8RoundTripIsByteIdentical) {
  const backup::LoadResult loaded = backup::ParseBackupFile(kVersion8File);
  ASSERT_EQ(loaded.status, LoadStatus::kLoaded);
  EXPECT_EQ(backup::BackupFileBytes(loaded.records), kVersion8File);

  // A full-size record of an extended module, written and read back, and written again.
  RawRecord big;
  big.registerCount = 513;
  big.registersCount = {0x01, 0x02};
  big.registers.assign(513 * 2, 0x5A);
  big.flashCount = {0x01, 0x02};
  big.flash.assign(513 * 2, 0xA5);
  big.extendedCount = 200;
  big.extended = {0xC8, 0x00};
  big.extended.insert(big.extended.end(), 400, 0x33);
  big.plc.assign(70000, 0x42);
  big.legacy = {0x07, 0x01, 0x00, 0x00, 0x00, 0x01, 0xAA, 0xBB, 0xCC, 0xDD};
  const Bytes file = File(8, {big, RawRecord{}, big});
  const backup::LoadResult again = backup::ParseBackupFile(file);
  ASSERT_EQ(again.status, LoadStatus::kLoaded);
  ASSERT_EQ(again.records.size(), 3u);
  EXPECT_EQ(again.records[0].extendedRegisters.size(), 200u);
  EXPECT_EQ(again.records[0].legacyList, (std::vector<uint32_t>{0xDDCCBBAA}));
  EXPECT_EQ(backup::BackupFileBytes(again.records), file);
}

TEST(BackupFile, Version1FileHas363RegisterRecords) {
  // The first word is the record count; no firmware, register count, legacy fields, PLC
  // program, flash image, extended registers or service figures.
  RawRecord first;
  first.registersCount = {0x6B, 0x01};  // 363
  first.registers.clear();
  for (int k = 0; k < 363; ++k) {
    first.registers.push_back(static_cast<uint8_t>(k >> 8));
    first.registers.push_back(static_cast<uint8_t>(k));
  }
  RawRecord second = first;
  second.serial = 4242;
  second.ip = "10.1.2.22";
  second.nodeBlock[17] = 0x21;
  const Bytes file = File(1, {first, second});
  ASSERT_EQ(Bytes(file.begin(), file.begin() + 6), (Bytes{0x02, 0x00, 0x69, 0x2D, 0x01, 0x00}));

  const backup::LoadResult loaded = backup::ParseBackupFile(file);
  ASSERT_EQ(loaded.status, LoadStatus::kLoaded);
  EXPECT_EQ(loaded.version, 1);
  ASSERT_EQ(loaded.records.size(), 2u);
  for (const CNode_DataBackup& r : loaded.records) {
    EXPECT_EQ(r.registerCount, 363);
    ASSERT_EQ(r.registers.size(), 363u);
    EXPECT_EQ(backup::RegisterValue(r.registers[362]), 362);
    EXPECT_EQ(r.firmwareVersion, 0);
    EXPECT_TRUE(r.plcProgram.empty());
    EXPECT_EQ(r.flashImage, r.registers);
    EXPECT_TRUE(r.extendedRegisters.empty());
    EXPECT_EQ(r.serviceFigures[1], 0u);
    EXPECT_EQ(r.moduleFamily, 1);
  }
  EXPECT_EQ(loaded.records[1].serialNumber, 4242u);
  EXPECT_EQ(loaded.records[1].ipText, "10.1.2.22");
  EXPECT_EQ(loaded.records[1].nodeBlock[17], 0x21);
}

TEST(BackupFile, EachVersionReadsOnlyItsFields) {
  for (uint16_t version = 1; version <= 8; ++version) {
    SCOPED_TRACE(version);
    RawRecord raw;
    if (version == 1) raw.registerCount = 363;  // what a version 1 record is taken to have
    raw.registersCount = {0x03, 0x00};          // fewer words than slots: the rest stay 0
    raw.registers.resize(6);
    const backup::LoadResult loaded = backup::ParseBackupFile(File(version, {raw}));
    ASSERT_EQ(loaded.status, LoadStatus::kLoaded);
    ASSERT_EQ(loaded.records.size(), 1u);
    const CNode_DataBackup& r = loaded.records[0];
    EXPECT_EQ(r.firmwareVersion, version > 1 ? 0x0413 : 0);
    ASSERT_EQ(r.registers.size(), version > 1 ? 4u : 363u);
    EXPECT_EQ(backup::RegisterValue(r.registers[1]), 0x1234);
    EXPECT_EQ(r.registers.back(), 0);
    EXPECT_EQ(r.plcProgram.size(), version > 3 ? 4u : 0u);
    if (version > 4) {
      EXPECT_EQ(backup::RegisterValue(r.flashImage[1]), 0x5678);
    } else {
      EXPECT_EQ(r.flashImage, r.registers);
    }
    EXPECT_EQ(r.serviceFigures[0], version > 7 ? 1u : 0u);
    // Whatever it was read from, it is written as version 8 and reads back the same.
    const backup::LoadResult again =
        backup::ParseBackupFile(backup::BackupFileBytes(loaded.records));
    ASSERT_EQ(again.status, LoadStatus::kLoaded);
    EXPECT_EQ(again.version, 8);
    EXPECT_EQ(again.records, loaded.records);
  }
}

TEST(BackupFile, NewerVersionAndOtherFamilyAreRefusedWithTheirTexts) {
  struct Case {
    const char* name;
    Bytes file;
    LoadStatus status;
    std::string message;
  };
  Bytes version9 = kVersion8File;
  version9[2] = 0x09;
  Bytes version300 = kVersion8File;
  version300[3] = 0x01;
  Bytes family = kVersion8File;
  family[6] = 0x01;
  const std::string newer =
      "Unable to use this Backup file! It is created with a newest version of Quillmar. Update "
      "your Quillmarand then try again!";
  const Case cases[] = {
      {"version 9", version9, LoadStatus::kNewerVersion, newer},
      {"version 265", version300, LoadStatus::kNewerVersion, newer},
      {"version 9 with only its header", Bytes{0x00, 0x00, 0x09, 0x00, 0x05, 0x00},
       LoadStatus::kNewerVersion, newer},
      {"family flag", family, LoadStatus::kOtherFamily,
       "Unable to use this Backup file! It is created for Orvo modules family. Choose valid "
       "backup file (created with Quillmar) and then try again!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const backup::LoadResult loaded = backup::ParseBackupFile(c.file);
    EXPECT_EQ(loaded.status, c.status);
    EXPECT_TRUE(loaded.records.empty());
    EXPECT_EQ(backup::LoadMessage(loaded, "/x/a.backup"), c.message);
  }
}

TEST(BackupFile, EveryTruncationIsCorrupt) {
  for (size_t size = 0; size < kVersion8File.size(); ++size) {
    SCOPED_TRACE(size);
    const Bytes cut(kVersion8File.begin(), kVersion8File.begin() + size);
    const backup::LoadResult loaded = backup::ParseBackupFile(cut);
    EXPECT_EQ(loaded.status, LoadStatus::kCorrupt);
    EXPECT_TRUE(loaded.records.empty());
  }
}

TEST(BackupFile, CountsAndLengthsThatLieAreCorrupt) {
  struct Case {
    const char* name;
    uint16_t version;
    RawRecord record;
    uint16_t records = 1;
    Bytes trailing = {};
    Bytes recordBytes = {};  // in place of the record's encoding, when given
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, auto change, uint16_t version = 8) {
    Case c{name, version, RawRecord{}};
    change(c);
    cases.push_back(c);
  };
  add("register count 0", [](Case& c) { c.record.registerCount = 0; });
  add("register count 514", [](Case& c) { c.record.registerCount = 514; });
  add("more register words than slots", [](Case& c) {
    c.record.registersCount = {0x05, 0x00};
    c.record.registers.insert(c.record.registers.end(), {0x00, 0x00});
  });
  add(
      "363 words plus one in version 1",
      [](Case& c) {
        c.record.registersCount = {0x6C, 0x01};
        c.record.registers.assign(364 * 2, 0);
      },
      1);
  add("register count 0xFFFF escape beyond the data",
      [](Case& c) { c.record.registersCount = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x40}; });
  add("flash image longer than the slots", [](Case& c) {
    c.record.flashCount = {0x05, 0x00};
    c.record.flash.insert(c.record.flash.end(), {0x00, 0x00});
  });
  add("node block of 65 bytes", [](Case& c) {
    c.record.nodeBlockCount = {0x41, 0x00};
    c.record.nodeBlock.push_back(0);
  });
  add("PLC program of 1 byte", [](Case& c) { c.record.plc = {0x42}; });
  add("PLC length beyond the data", [](Case& c) { c.record.plcLength = 0xFFFFFFFF; });
  add("PLC length one past the end", [](Case& c) { c.record.plcLength = 43; });
  add("legacy list longer than the data",
      [](Case& c) { c.record.legacy = {0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x01, 0x02}; });
  add("extended register count 100", [](Case& c) { c.record.extendedCount = 100; });
  add("201 extended words", [](Case& c) {
    c.record.extendedCount = 200;
    c.record.extended = {0xC9, 0x00};
    c.record.extended.insert(c.record.extended.end(), 402, 0);
  });
  add("32-bit text length beyond the data", [](Case& c) {
    c.recordBytes = {0x69, 0x2D, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, '1'};
  });
  add("one record more than the file holds", [](Case& c) { c.records = 2; });
  add("bytes after the last record", [](Case& c) { c.trailing = {0x00}; });
  add(
      "version 0", [](Case&) {}, 0);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = Header(c.version == 0 ? 2 : c.version, c.records);
    if (c.version == 0) file[2] = 0;
    Append(file,
           c.recordBytes.empty() ? c.record.Encode(c.version == 0 ? 2 : c.version) : c.recordBytes);
    Append(file, c.trailing);
    const backup::LoadResult loaded = backup::ParseBackupFile(file);
    EXPECT_EQ(loaded.status, LoadStatus::kCorrupt);
    EXPECT_TRUE(loaded.records.empty());
    EXPECT_EQ(backup::LoadMessage(loaded, "/home/u/line 3.backup"),
              "Operation FAILED! Unable to open file: \"/home/u/line 3.backup\".");
  }
}

}  // namespace
