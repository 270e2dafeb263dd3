#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "sim/line.h"
#include "sim/module.h"

namespace sim {
namespace {

ModuleSetup SetupOf(uint8_t family, const char* firmware = "4.14.2") {
  ModuleSetup setup;
  setup.serial = 0x00123456;
  setup.mac = Mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  setup.address = *ParseIpv4("192.168.202.21");
  setup.mask = *ParseIpv4("255.255.255.0");
  setup.gateway = *ParseIpv4("192.168.202.1");
  setup.family = family;
  unsigned major = 0, minor = 0, patch = 0;
  std::sscanf(firmware, "%u.%u.%u", &major, &minor, &patch);
  setup.firmwareMajor = static_cast<uint8_t>(major);
  setup.firmwareMinor = static_cast<uint8_t>(minor);
  setup.firmwarePatch = static_cast<uint8_t>(patch);
  setup.moduleType = 3;
  setup.variant = 4;
  return setup;
}

std::vector<uint16_t> ReadOk(const SimModule& module, uint32_t first, uint32_t count) {
  std::vector<uint16_t> values(count);
  EXPECT_EQ(module.Read(first, count, values.data()), 0) << first << "+" << count;
  return values;
}

TEST(SimModule, IdentityRegistersMatchTheDescription) {
  const struct {
    uint8_t family;
    uint16_t register6, register17, register25, register12;
  } cases[] = {
      {0x00, 0x0004, 0x0003, 0x040E, 0x0000},  // plain firmware 4.14, no third part
      {0x02, 0x0024, 0x0203, 0x040E, 0x0000},
      {0x03, 0x0034, 0x0303, 0x680E, 0x0000},  // reports major + 100
      {0x09, 0x0094, 0x0903, 0x680E, 0x0200},  // third part in register 12's high byte
      {0x0C, 0x00C4, 0x0C03, 0x680E, 0x0200},
  };
  for (const auto& c : cases) {
    SimModule module(SetupOf(c.family));
    const auto r = ReadOk(module, 1, 40);
    EXPECT_EQ(r[6 - 1], c.register6) << int(c.family);
    EXPECT_EQ(r[12 - 1], c.register12) << int(c.family);
    EXPECT_EQ(r[17 - 1], c.register17) << int(c.family);
    EXPECT_EQ(r[18 - 1], 3);
    EXPECT_EQ(r[25 - 1], c.register25) << int(c.family);
    // Address high byte first, serial low word first, MAC in wire order.
    EXPECT_EQ(r[26 - 1], 0xC0A8);
    EXPECT_EQ(r[27 - 1], 0xCA15);
    EXPECT_EQ(r[28 - 1], 0x3456);
    EXPECT_EQ(r[29 - 1], 0x0012);
    EXPECT_EQ(r[30 - 1], 0x001A);
    EXPECT_EQ(r[31 - 1], 0x2B3C);
    EXPECT_EQ(r[32 - 1], 0x4D5E);
  }
}

TEST(SimModule, WorkingSetIsACatalogueDriveWithZonesInUse) {
  ModuleSetup setup = SetupOf(0x09);
  setup.driveType = 12;  // rated 3600 mA, class 1, constant 483, max 5000, parameter 105, code 30
  setup.registers[44] = 321;
  SimModule module(setup);
  const auto r = ReadOk(module, 1, 512);
  for (int b : {40, 64}) {
    EXPECT_EQ(r[b + 1 - 1], 3600) << b;
    EXPECT_EQ(r[b + 2 - 1], 483) << b;
    EXPECT_EQ(r[b + 5 - 1], 1) << b;
    EXPECT_EQ(r[b + 12 - 1], 105) << b;
    EXPECT_EQ(r[b + 19 - 1], 5000) << b;
    EXPECT_GT(r[b - 1], 0) << "a set speed";
  }
  EXPECT_EQ(r[490 - 1], 30);
  EXPECT_EQ(r[492 - 1], 30);
  EXPECT_EQ(r[90 - 1], 1);
  EXPECT_EQ(r[170 - 1], 1);
  EXPECT_EQ(r[44 - 1], 321) << "override from the line file";
}

TEST(SimModule, RegistersItDoesNotHaveAreIllegalAddresses) {
  SimModule plain(SetupOf(0x00));
  SimModule extended(SetupOf(0x09));
  SimModule io(SetupOf(0x0C));
  uint16_t buffer[700];
  const struct {
    const SimModule* module;
    uint32_t first, count;
    uint8_t expected;
  } cases[] = {
      {&plain, 0, 1, kIllegalDataAddress},
      {&plain, 512, 1, 0},
      {&plain, 512, 2, kIllegalDataAddress},
      {&plain, 1, 512, 0},
      {&plain, 10002, 1, 0},
      {&plain, 10101, 2, 0},  // pseudo registers
      {&plain, 10000, 1, kIllegalDataAddress},
      {&plain, 10003, 1, kIllegalDataAddress},
      {&extended, 10000, 36, 0},
      {&extended, 10100, 36, 0},
      {&extended, 10000, 37, kIllegalDataAddress},
      {&extended, 10136, 1, kIllegalDataAddress},
      {&plain, 10200, 600, 0},
      {&plain, 10300, 600, 0},
      {&plain, 10200, 601, kIllegalDataAddress},
      {&plain, 10350, 600, kIllegalDataAddress},
      {&io, 10200, 600, kIllegalDataAddress},
      {&io, 10300, 600, 0},  // no log 1 on 0x0C
      {&plain, 20000, 1, kIllegalDataAddress},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.module->Read(c.first, c.count, buffer), c.expected) << c.first << "+" << c.count;
  }
  const uint16_t value = 1;
  EXPECT_EQ(plain.Read(10200, 1, buffer), 0);
  EXPECT_EQ(SimModule(SetupOf(0x00)).Write(10200, 1, &value), kIllegalDataAddress)
      << "logs are read only";
  EXPECT_EQ(SimModule(SetupOf(0x00)).Write(513, 1, &value), kIllegalDataAddress);
}

TEST(SimModule, RegisterCountFollowsTheFirmwareVersion) {
  uint16_t buffer[600];
  const struct {
    uint8_t family;
    const char* firmware;
    uint32_t count;
  } cases[] = {
      {0x00, "3.18", 363}, {0x00, "2.5", 363}, {0x00, "3.19", 383}, {0x02, "3.40", 383},
      {0x00, "4.0", 383},  {0x00, "4.1", 512}, {0x00, "4.12", 512}, {0x00, "5.0", 512},
      {0x03, "3.10", 512},  // families 0x03, 0x09, 0x0C report major + 100
      {0x09, "4.0", 512},  {0x0C, "2.1", 512},
  };
  for (const auto& c : cases) {
    SimModule module(SetupOf(c.family, c.firmware));
    const std::string what = std::string(c.firmware) + " family " + std::to_string(c.family);
    EXPECT_EQ(module.RegisterCount(), c.count) << what;
    EXPECT_EQ(module.Read(1, c.count, buffer), 0) << what;
    EXPECT_EQ(module.Read(c.count, 1, buffer), 0) << what;
    if (c.count < 512) {
      EXPECT_EQ(module.Read(c.count, 2, buffer), kIllegalDataAddress) << what;
      EXPECT_EQ(module.Read(490, 20, buffer), kIllegalDataAddress) << what;
      const uint16_t value = 7;
      EXPECT_EQ(module.Write(c.count + 1, 1, &value), kIllegalDataAddress) << what;
      // The control socket still sees the slot.
      std::vector<uint16_t> peeked;
      EXPECT_TRUE(module.Peek(490, 20, false, peeked)) << what;
    }
  }
  // A new firmware that becomes active brings the registers with it.
  SimModule module(SetupOf(0x00, "3.20"));
  EXPECT_EQ(module.Read(500, 1, buffer), kIllegalDataAddress);
  module.SetFirmware(4, 5);
  EXPECT_EQ(module.Read(500, 1, buffer), 0);
}

TEST(SimModule, DiagnosticLogsHoldAFewEntriesEndedByZeros) {
  SimModule module(SetupOf(0x09));
  for (uint32_t start : {10200u, 10300u}) {
    const auto log = ReadOk(module, start, 600);
    int entries = 0;
    while (entries < 150 && (log[4 * entries] || log[4 * entries + 1] || log[4 * entries + 2] ||
                             log[4 * entries + 3])) {
      const uint8_t category = log[4 * entries] & 0xFF;
      EXPECT_GE(category, 1);
      EXPECT_LE(category, 6);
      ++entries;
    }
    EXPECT_GE(entries, 2) << start;
    EXPECT_LT(entries, 150) << start;
  }
}

TEST(SimModule, SaveCommandCopiesItsRangeToFlashAndRestartLosesTheRest) {
  SimModule module(SetupOf(0x09));
  const uint16_t speeds[] = {1111, 2222};
  ASSERT_EQ(module.Write(40, 1, &speeds[0]), 0);
  ASSERT_EQ(module.Write(64, 1, &speeds[1]), 0);
  EXPECT_FALSE(module.TakeCommand());
  const uint16_t save[] = {3, 40, 1};
  ASSERT_EQ(module.Write(251, 3, save), 0);
  const auto command = module.TakeCommand();
  ASSERT_TRUE(command);
  EXPECT_EQ(command->kind, CommandKind::kSave);
  EXPECT_EQ(command->first, 40);
  EXPECT_EQ(command->count, 1);
  EXPECT_EQ(ReadOk(module, 253, 1)[0], 1) << "253 clears only when the flash write is done";
  module.FinishSave(command->first, command->count);
  EXPECT_EQ(ReadOk(module, 253, 1)[0], 0);
  EXPECT_EQ(module.Counters().saves, 1u);
  module.Restart();
  EXPECT_EQ(ReadOk(module, 40, 1)[0], 1111);
  EXPECT_NE(ReadOk(module, 64, 1)[0], 2222);
  EXPECT_EQ(ReadOk(module, 251, 3), (std::vector<uint16_t>{0, 0, 0}));
  EXPECT_EQ(ReadOk(module, 28, 2), (std::vector<uint16_t>{0x3456, 0x0012})) << "identity survives";
}

TEST(SimModule, CommandBlockRecognisesSaveFormatAndRestartOnly) {
  const struct {
    std::vector<uint16_t> block;  // written to 251 onwards in one write
    std::optional<CommandKind> kind;
  } cases[] = {
      {{3, 17, 20}, CommandKind::kSave},
      {{100}, CommandKind::kFormat},
      {{300, 333, 666}, CommandKind::kRestart},
      {{300, 333, 665}, std::nullopt},
      {{0, 333, 666}, std::nullopt},
      {{7, 1, 1}, std::nullopt},
  };
  for (const auto& c : cases) {
    SimModule module(SetupOf(0x00));
    ASSERT_EQ(module.Write(251, static_cast<uint32_t>(c.block.size()), c.block.data()), 0);
    const auto command = module.TakeCommand();
    EXPECT_EQ(command.has_value(), c.kind.has_value()) << c.block[0];
    if (command && c.kind) {
      EXPECT_EQ(command->kind, *c.kind);
    }
  }
  // A command written register by register runs when 251 is written last.
  SimModule module(SetupOf(0x00));
  const uint16_t first = 41, count = 2, save = 3;
  module.Write(252, 1, &first);
  module.Write(253, 1, &count);
  EXPECT_FALSE(module.TakeCommand());
  module.Write(251, 1, &save);
  const auto command = module.TakeCommand();
  ASSERT_TRUE(command);
  EXPECT_EQ(command->first, 41);
  EXPECT_EQ(command->count, 2);
}

TEST(SimModule, FormatRestoresFactoryValuesSavesAllAndClears251) {
  SimModule module(SetupOf(0x00));
  const uint16_t changed = 999, format = 100;
  const uint16_t factory = ReadOk(module, 43, 1)[0];
  module.Write(43, 1, &changed);
  module.Write(251, 1, &format);
  EXPECT_EQ(ReadOk(module, 251, 1)[0], 100);
  module.FinishFormat();
  EXPECT_EQ(ReadOk(module, 251, 1)[0], 0);
  EXPECT_EQ(ReadOk(module, 43, 1)[0], factory);
  std::vector<uint16_t> flash;
  ASSERT_TRUE(module.Peek(43, 1, true, flash));
  EXPECT_EQ(flash[0], factory);
}

TEST(SimModule, IdentityWritesAreIgnoredAndJamClearClearsTheJam) {
  SimModule module(SetupOf(0x00));
  ASSERT_TRUE(module.Poke(108, {1}, false));
  ASSERT_TRUE(module.Poke(188, {1}, false));
  const uint16_t block[] = {0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD, 0xEEEE, 0xFFFF, 0x1111, 0x2222};
  ASSERT_EQ(module.Write(25, 8, block), 0);
  EXPECT_EQ(ReadOk(module, 26, 2), (std::vector<uint16_t>{0xC0A8, 0xCA15}));
  const uint16_t one = 1;
  module.Write(109, 1, &one);
  EXPECT_EQ(ReadOk(module, 108, 1)[0], 0);
  EXPECT_EQ(ReadOk(module, 188, 1)[0], 1);
  module.Write(189, 1, &one);
  EXPECT_EQ(ReadOk(module, 188, 1)[0], 0);
}

TEST(SimModule, NodeRecordHasTheLayoutAndLengthOfTheModule) {
  ModuleSetup setup = SetupOf(0x09, "4.12");
  setup.linePosition = 1;
  SimModule module(setup);
  const std::vector<uint8_t> expected = {0x00, 0x12, 0x34, 0x56, 192, 168, 202, 21,   255, 255,
                                         255,  0,    192,  168,  202, 1,   1,   0x90, 104, 12,
                                         0,    0,    0,    0,    0,   0,   0,   0};
  EXPECT_EQ(module.NodeRecord(), expected);
  for (uint8_t length : {8, 16, 20}) {
    setup.recordLength = length;
    const auto record = SimModule(setup).NodeRecord();
    EXPECT_EQ(record, std::vector<uint8_t>(expected.begin(), expected.begin() + length));
  }
  ModuleSetup plain = SetupOf(0x00, "4.0");
  EXPECT_EQ(SimModule(plain).NodeRecord()[17], 0x00);
  EXPECT_EQ(SimModule(plain).NodeRecord()[18], 4);
}

TEST(SimModule, NetworkChangeUpdatesRegistersAndRecord) {
  SimModule module(SetupOf(0x00));
  module.SetNetwork(*ParseIpv4("10.20.30.40"), *ParseIpv4("255.0.0.0"), *ParseIpv4("10.0.0.1"));
  EXPECT_EQ(ReadOk(module, 26, 2), (std::vector<uint16_t>{0x0A14, 0x1E28}));
  module.Restart();
  EXPECT_EQ(ReadOk(module, 26, 2), (std::vector<uint16_t>{0x0A14, 0x1E28}))
      << "kept across a restart";
  EXPECT_EQ(module.NodeRecord()[4], 10);
  EXPECT_EQ(module.NodeRecord()[8], 255);
}

}  // namespace
}  // namespace sim
