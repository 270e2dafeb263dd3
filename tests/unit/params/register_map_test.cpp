// The register map: image, mirror map, read groups of a refresh, command block.
#include "params/register_map.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "comm/blocking_socket.h"
#include "fixtures/fake_modbus_server.h"
#include "fixtures/temp_log.h"
#include "platform/tick.h"

namespace {

using params::MirrorMap;
using params::RegisterImage;
using params::RegisterMap;

// A scripted module: registers in a map, every operation recorded as a short text.
class ScriptedAccess : public params::RegisterAccess {
 public:
  bool ReadRegisters(uint16_t first, uint16_t count, uint16_t* values) override {
    log.push_back("read " + std::to_string(first) + "+" + std::to_string(count));
    if (throwingReads.count(first)) throw CBlockingSocketException("Receive timeout", 16);
    if (refusedReads.count(first)) return false;
    for (uint16_t k = 0; k < count; ++k) values[k] = registers[first + k];
    return true;
  }
  bool WriteRegister(uint16_t reg, uint16_t value) override {
    log.push_back("write " + std::to_string(reg) + "=" + std::to_string(value));
    registers[reg] = value;
    return true;
  }
  bool WriteRegisters(uint16_t first, uint16_t count, const uint16_t* values) override {
    log.push_back("writeblock " + std::to_string(first) + "+" + std::to_string(count));
    for (uint16_t k = 0; k < count; ++k) registers[first + k] = values[k];
    return true;
  }
  bool SaveToFlash(uint16_t reg, uint16_t value) override {
    log.push_back("save " + std::to_string(reg) + "=" + std::to_string(value));
    return true;
  }
  bool SaveToFlashGroup(uint16_t first, uint16_t count) override {
    log.push_back("savegroup " + std::to_string(first) + "+" + std::to_string(count));
    return true;
  }
  void Pause(uint32_t ms) override {
    log.push_back("pause " + std::to_string(ms));
    if (realPauses) platform::SleepMs(ms);
  }

  std::map<uint32_t, uint16_t> registers;
  std::set<uint16_t> throwingReads;
  std::set<uint16_t> refusedReads;
  std::vector<std::string> log;
  bool realPauses = false;
};

TEST(MirrorMap, ExchangesTheSidesOfAReversedModule) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {40, 64},   {63, 87},   {64, 40},   {87, 63},   {52, 76},   {90, 170},  {170, 90},
      {280, 281}, {281, 280}, {282, 283}, {283, 282}, {91, 91},   {117, 117}, {171, 171},
      {284, 284}, {39, 39},   {88, 88},   {6, 6},     {512, 512}, {513, 513}, {10002, 10002}};
  for (const auto& [reg, sent] : cases) EXPECT_EQ(MirrorMap::Map(reg), sent) << reg;
  // The table is its own inverse.
  for (uint32_t n = 0; n < 513; ++n) EXPECT_EQ(MirrorMap::Map(MirrorMap::Map(n)), n);
  EXPECT_TRUE(MirrorMap::ReversedVariant(0x94));
  EXPECT_FALSE(MirrorMap::ReversedVariant(0x95));
}

TEST(RegisterImage, SlotsOfPseudoRegistersAndDroppedStores) {
  EXPECT_EQ(RegisterImage::SlotOf(10001), 3);
  EXPECT_EQ(RegisterImage::SlotOf(10002), 1);
  EXPECT_EQ(RegisterImage::SlotOf(10101), 4);
  EXPECT_EQ(RegisterImage::SlotOf(10102), 2);
  EXPECT_EQ(RegisterImage::SlotOf(512), 512);
  EXPECT_FALSE(RegisterImage::SlotOf(513).has_value());
  EXPECT_FALSE(RegisterImage::SlotOf(10000).has_value());

  RegisterImage image;
  std::vector<uint16_t> words(25, 7);
  image.StoreBlock(500, words.data(), 25);  // 500..524: the part past 512 is dropped
  EXPECT_EQ(image.Get(512), 7);
  EXPECT_EQ(image.Get(513), 0);
  image.Set(600, 1);
  image.Set(-1, 1);
  EXPECT_EQ(image.Words()[0], 0);
  const uint16_t two[2] = {0x0101, 0x0202};
  image.StoreBlock(10001, two, 2);  // 10001 -> 3, 10002 -> 1
  EXPECT_EQ(image.Get(3), 0x0101);
  EXPECT_EQ(image.Get(1), 0x0202);
}

class RegisterMapTest : public ::testing::Test {
 protected:
  void Reversed() { map.image().Set(6, 0x94); }
  ScriptedAccess access;
  RegisterMap map{access};
};

TEST_F(RegisterMapTest, MirrorMapAppliesOnlyWithAnImageOfAReversedModule) {
  map.WriteOne(40, 1);
  EXPECT_EQ(access.log.back(), "write 40=1");
  Reversed();
  struct Case {
    void (*operation)(RegisterMap&);
    const char* sent;
  };
  const Case cases[] = {
      {[](RegisterMap& m) { m.WriteOne(40, 1); }, "write 64=1"},
      {[](RegisterMap& m) { m.WriteOne(64, 1); }, "write 40=1"},
      {[](RegisterMap& m) { m.WriteOne(87, 1); }, "write 63=1"},
      {[](RegisterMap& m) { m.WriteOne(90, 1); }, "write 170=1"},
      {[](RegisterMap& m) { m.ReadOne(90); }, "read 170+1"},
      {[](RegisterMap& m) { m.ReadBlock(90, 28); }, "read 90+28"},
      {[](RegisterMap& m) { m.ReadBlock(170, 28); }, "read 170+28"},
      {[](RegisterMap& m) { m.ReadBlock(40, 25); }, "read 64+25"},
      {[](RegisterMap& m) { m.ReadBlock(280, 2); }, "read 281+2"},
      {[](RegisterMap& m) { m.SaveToFlash(48, 1); }, "save 72=1"},
      {[](RegisterMap& m) { m.SaveToFlashGroup(40, 20); }, "savegroup 64+20"},
      {[](RegisterMap& m) {
         const uint16_t v[2] = {1, 2};
         m.WriteBlock(282, 2, v);
       },
       "writeblock 283+2"},
  };
  for (const Case& c : cases) {
    c.operation(map);
    EXPECT_EQ(access.log.back(), c.sent);
  }
  map.SetImagePresent(false);  // without an image nothing is mapped (and register 6 is gone)
  map.WriteOne(40, 1);
  EXPECT_EQ(access.log.back(), "write 40=1");
}

TEST_F(RegisterMapTest, ValuesLandAtTheNumberSentAndLookupsAreMappedToo) {
  Reversed();
  access.registers[64] = 1500;  // the module's own right drive speed
  access.registers[40] = 800;
  access.registers[170] = 3;
  ASSERT_TRUE(map.ReadBlock(40, 25));  // goes out as 64..88
  EXPECT_EQ(map.image().Get(64), 1500);
  EXPECT_EQ(map.Value(40), 1500);      // the screen's left drive is the module's right one
  ASSERT_TRUE(map.ReadBlock(90, 28));  // unmapped
  map.ReadBlock(170, 28);
  EXPECT_EQ(map.Value(90), 3);
  const auto value = map.ReadOne(64);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, 800);
  EXPECT_EQ(map.image().Get(40), 800);
}

TEST_F(RegisterMapTest, ReadOfPseudoRegisterFillsItsSlot) {
  access.registers[10002] = 0x0501;
  const auto value = map.ReadOne(10002);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(map.image().Get(1), 0x0501);
}

void SetModule(ScriptedAccess& access, uint8_t family, uint16_t firmware, uint16_t type) {
  access.registers[17] = static_cast<uint16_t>(family << 8 | 1);
  access.registers[18] = type;
  access.registers[25] = firmware;
}

TEST_F(RegisterMapTest, FullReadOfAFamily9ModuleRunsEveryGroupAndExtendedRead) {
  SetModule(access, 0x09, 0x6E05, 1);
  access.registers[10002] = 0x0300;
  access.registers[10102] = 0x0401;
  const auto outcome = map.FullRead();
  ASSERT_TRUE(outcome.ok) << outcome.error;
  const std::vector<std::string> expected = {
      "read 17+20",   "read 40+25", "read 362+24", "pause 50",   "read 490+20", "read 507+5",
      "read 10002+1", "read 64+25", "read 362+24", "pause 50",   "read 490+20", "read 507+5",
      "read 10102+1", "pause 50",   "read 254+1",  "read 90+28", "read 170+28", "read 6+7"};
  EXPECT_EQ(access.log, expected);
  EXPECT_EQ(map.image().Get(1), 0x0300);
  EXPECT_EQ(map.image().Get(2), 0x0401);
  const auto& read = map.ReadSlots();
  for (int slot : {1, 2, 6, 12, 17, 36, 40, 88, 90, 117, 170, 197, 254, 362, 385, 490, 511}) {
    EXPECT_TRUE(read.test(slot)) << slot;
  }
  for (int slot : {3, 4, 13, 37, 89, 118, 198, 279, 386, 512})
    EXPECT_FALSE(read.test(slot)) << slot;
}

TEST_F(RegisterMapTest, ExtendedReadDependsOnFamilyAndFirmware) {
  struct Case {
    uint8_t family;
    uint16_t firmware;
    std::vector<std::string> afterGroup1;
  };
  const Case cases[] = {
      {0x00, 0x0A05, {"read 40+25", "read 362+24", "pause 50", "read 490+20"}},
      {0x02, 0x0A05, {"read 40+25", "read 362+24", "pause 50"}},
      {0x03, 1024, {"read 40+25", "read 362+24"}},
      {0x03, 33686, {"read 40+25", "read 362+24"}},
      {0x03, 33688, {"read 40+25", "read 362+24", "pause 50", "read 490+20"}},
  };
  for (const Case& c : cases) {
    ScriptedAccess module;
    SetModule(module, c.family, c.firmware, 1);
    module.registers[490] = 9;
    module.registers[492] = 9;
    module.registers[507] = 5;
    RegisterMap m(module);
    m.image().Set(507, 5);
    m.image().Set(490, 9);
    ASSERT_TRUE(m.ReadBlock(17, 20));
    module.log.clear();
    ASSERT_TRUE(m.ReadGroupWithSteps(1).ok);
    EXPECT_EQ(module.log, c.afterGroup1) << int{c.family} << " " << c.firmware;
    const bool longReads = c.afterGroup1.size() > 2;
    if (c.family == 0x02) {
      EXPECT_EQ(m.image().Get(490), 0);  // cleared after the extended read
      EXPECT_EQ(m.image().Get(492), 0);
    }
    if (longReads) {
      EXPECT_EQ(m.image().Get(507), 0);  // not family 9
    }
  }
}

TEST_F(RegisterMapTest, ExtendedReadFailuresAreCountedUpToTen) {
  SetModule(access, 0x09, 0x6E05, 1);
  ASSERT_TRUE(map.ReadBlock(17, 20));
  access.throwingReads = {490};
  for (int k = 1; k <= 7; ++k) {
    ASSERT_TRUE(map.ReadGroupWithSteps(1).ok);  // a failed extended read does not fail the group
    EXPECT_EQ(map.extendedFailures(), k);
  }
  // From seven failures on, only 362..385 is read; its own failures still count, up to 10.
  access.log.clear();
  ASSERT_TRUE(map.ReadGroupWithSteps(1).ok);
  EXPECT_EQ(access.log, (std::vector<std::string>{"read 40+25", "read 362+24"}));
  access.refusedReads = {362};
  for (int k = 0; k < 5; ++k) map.ReadGroupWithSteps(1);
  EXPECT_EQ(map.extendedFailures(), 10);
}

TEST_F(RegisterMapTest, ZoneUseIsClearedOnModuleTypes2And5) {
  for (uint16_t type : {1, 2, 5}) {
    ScriptedAccess module;
    SetModule(module, 0x03, 0x6E05, type);
    module.registers[90] = 1;
    module.registers[170] = 1;
    RegisterMap m(module);
    ASSERT_TRUE(m.ReadBlock(17, 20));
    ASSERT_TRUE(m.ReadGroupWithSteps(3).ok);
    ASSERT_TRUE(m.ReadGroupWithSteps(4).ok);
    const uint16_t expected = (type == 1) ? 1 : 0;
    EXPECT_EQ(m.image().Get(90), expected) << type;
    EXPECT_EQ(m.image().Get(170), expected) << type;
  }
}

TEST_F(RegisterMapTest, ReadFailuresEndTheRefreshWithTheirText) {
  fixtures::ScopedTempLog log;
  SetModule(access, 0x00, 0x0A05, 1);
  access.throwingReads = {90};
  auto outcome = map.FullRead();
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, "Read Reg Group 3 Error");
  EXPECT_EQ(access.log.back(), "read 90+28");  // nothing after the failed group
  EXPECT_EQ(log.CountContaining("Read Reg Group 3 Error"), 1u);

  access.throwingReads = {6};
  outcome = map.FullRead();
  EXPECT_EQ(outcome.error, "Read Reg [6] - [12]");

  struct Case {
    uint16_t failing;
    const char* error;
  };
  const Case rotating[] = {{64, "Read Reg Group 2 Error"},
                           {254, "Read Reg [254]"},
                           {17, "Read Reg Group 5"},
                           {279, "Read Reg Group 8"}};
  for (const Case& c : rotating) {
    access.throwingReads = {c.failing};
    outcome = map.RotatingRead(2);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, c.error);
  }
  access.refusedReads = {279};  // an unmatched answer fails the same way
  access.throwingReads.clear();
  EXPECT_EQ(map.RotatingRead(3).error, "Read Reg Group 8");
}

TEST_F(RegisterMapTest, RotatingPassReadsItsGroupThen5Then8) {
  SetModule(access, 0x00, 0x0A05, 1);
  ASSERT_TRUE(map.RotatingRead(4).ok);
  EXPECT_EQ(access.log, (std::vector<std::string>{"read 170+28", "read 17+20", "pause 50",
                                                  "read 279+16", "pause 50"}));
}

TEST_F(RegisterMapTest, FullReadOnFamily2ReadsRegister254AtTheEnd) {
  SetModule(access, 0x02, 0x0A05, 1);
  ASSERT_TRUE(map.FullRead().ok);
  EXPECT_EQ(access.log.back(), "read 254+1");
  EXPECT_EQ(access.log[access.log.size() - 2], "read 6+7");
}

TEST_F(RegisterMapTest, FormatFlashWaitsFor251AndGivesUpAtItsLimit) {
  access.realPauses = true;
  // The scripted module clears 251 at once.
  access.registers[251] = 0;
  struct ClearingAccess : ScriptedAccess {
    bool WriteRegister(uint16_t reg, uint16_t value) override {
      ScriptedAccess::WriteRegister(reg, value);
      if (reg == 251 && ++writes == 1) registers[251] = keep ? value : 0;
      return true;
    }
    int writes = 0;
    bool keep = false;
  };
  ClearingAccess clearing;
  RegisterMap formatting(clearing);
  EXPECT_TRUE(formatting.FormatFlash(2000));
  EXPECT_EQ(clearing.log.front(), "write 251=100");

  ClearingAccess stuck;
  stuck.keep = true;
  RegisterMap never(stuck);
  const uint32_t start = platform::GetTickCount();
  EXPECT_FALSE(never.FormatFlash(400));
  EXPECT_GE(platform::TicksSince(start), 400u);
  EXPECT_GT(stuck.log.size(), 2u);  // it polled meanwhile
}

// The map over the real client, against the fake server.
TEST(RegisterMapOverClient, SaveOfAReversedModulesLeftDriveGoesTo64) {
  testing_support::FakeModbusServer server;
  CBlockingSocket client;
  ASSERT_EQ(client._Connect(server.Address(), server.Port(), false), 1);
  params::ClientRegisterAccess access(client);
  RegisterMap map(access);
  server.SetRegister(6, 0x94);
  ASSERT_TRUE(map.ReadBlock(6, 7));
  ASSERT_TRUE(map.MirrorInForce());
  server.ClearLog();
  ASSERT_TRUE(map.SaveToFlash(40, 1200));
  const auto writes = server.Writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[0], std::make_pair(uint16_t{64}, uint16_t{1200}));
  EXPECT_EQ(writes[2], std::make_pair(uint16_t{252}, uint16_t{64}));
  EXPECT_EQ(server.Register(40), 0);
}

TEST(RegisterMapOverClient, StandaloneSaveOfARegisterPair) {
  testing_support::FakeModbusServer server;
  ASSERT_TRUE(
      params::SaveRegisterPairStandalone(server.Address(), 280, 0, 282, 0, true, server.Port()));
  const auto writes = server.Writes();
  const std::vector<std::pair<uint16_t, uint16_t>> expected = {
      {281, 0}, {283, 0}, {252, 281}, {253, 2}, {251, 3}};
  EXPECT_EQ(writes, expected);
  const auto requests = server.Requests();
  for (size_t k = 1; k < requests.size(); ++k) EXPECT_EQ(requests[k][7], 6);  // all function 6

  // Nothing is saved after a write that was not confirmed: the first value is answered, the
  // second meets exception answers (and so does everything after it). Only what reached the
  // module counts, answered or not.
  testing_support::FakeModbusServer refusing;
  refusing.QueueFaults({{}, {}});  // the identity read and the first write
  refusing.SetDefaultFault({testing_support::FakeModbusServer::Fault::kException, 2});
  EXPECT_FALSE(
      params::SaveRegisterPairStandalone(refusing.Address(), 40, 1, 64, 1, false, refusing.Port()));
  std::vector<uint16_t> written;
  for (const auto& request : refusing.Requests()) {
    if (request[7] == 6)
      written.push_back(static_cast<uint16_t>((request[8] << 8 | request[9]) + 1));
  }
  // The second write is tried twice (once more after its reconnect), then nothing follows.
  EXPECT_EQ(written, (std::vector<uint16_t>{40, 64, 64}));
  EXPECT_EQ(refusing.Writes(),
            (std::vector<std::pair<uint16_t, uint16_t>>{{40, 1}, {64, 1}, {64, 1}}));
}

}  // namespace
