// What a module answers to a backup and a restore: the flash image and when it stays silent, the
// totals of the service port, Set First/Last, and the faults a backup test asks for.
#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "base/format.h"
#include "sim/flash_image.h"
#include "sim/frames.h"
#include "sim/line.h"
#include "sim/module.h"
#include "sim/service_port.h"
#include "sim/udp_protocol.h"

namespace sim {
namespace {

ModuleSetup ModuleOf(uint8_t family, uint8_t major, uint8_t minor) {
  ModuleSetup setup;
  setup.serial = 7001;
  setup.mac = MacFromSerial(setup.serial);
  setup.address = *ParseIpv4("192.168.202.20");
  setup.mask = *ParseIpv4("255.255.255.0");
  setup.family = family;
  setup.firmwareMajor = major;
  setup.firmwareMinor = minor;
  return setup;
}

TEST(SimFlashImage, SavedRegistersAsLittleEndianWordsOrSilence) {
  struct Case {
    const char* what;
    uint8_t family, major, minor;
    bool plcMode, fault;
    size_t words;  // 0: no answer
  } cases[] = {
      {"4.12", 0x00, 4, 12, false, false, 512},
      {"3.19", 0x00, 3, 19, false, false, 383},
      {"3.18", 0x00, 3, 18, false, false, 363},
      {"2.2: no image before 2.3", 0x00, 2, 2, false, false, 0},
      {"2.3", 0x00, 2, 3, false, false, 363},
      {"family 0x09 reports 104", 0x09, 4, 0, false, false, 512},
      {"register 12 bit 0", 0x00, 4, 12, true, false, 0},
      {"noFlashImage fault", 0x00, 4, 12, false, true, 0},
  };
  for (const Case& c : cases) {
    ModuleSetup setup = ModuleOf(c.family, c.major, c.minor);
    setup.plcMode = c.plcMode;
    setup.faults.noFlashImage = c.fault;
    SimModule module(setup);
    ASSERT_TRUE(module.Poke(40, {0x1234}, true));
    ASSERT_TRUE(module.Poke(40, {0x5555}, false));  // RAM differs: the image is the flash
    const auto answer = FlashImageAnswer(module, reinterpret_cast<const uint8_t*>("ERGR"), 4);
    if (c.words == 0) {
      EXPECT_FALSE(answer) << c.what;
      continue;
    }
    ASSERT_TRUE(answer) << c.what;
    EXPECT_EQ(answer->size(), 2 * c.words) << c.what;
    EXPECT_EQ((*answer)[2 * 39], 0x34) << c.what;  // register 40 in word 39, low byte first
    EXPECT_EQ((*answer)[2 * 39 + 1], 0x12) << c.what;
  }
  SimModule module(ModuleOf(0x00, 4, 12));
  EXPECT_FALSE(FlashImageAnswer(module, reinterpret_cast<const uint8_t*>("ERG"), 3));
  EXPECT_FALSE(FlashImageAnswer(module, reinterpret_cast<const uint8_t*>("ERGRX"), 5));
}

TEST(SimServicePort, TotalsHaveTwoHeaderLinesAndTenEntries) {
  SimModule module(ModuleOf(0x00, 4, 12));
  for (const uint8_t command : {'1', '2', '3'}) {
    const std::string answer = ServicePortAnswer(module, command);
    size_t lines = 0;
    for (const char c : answer) lines += c == '\n' ? 1 : 0;
    EXPECT_EQ(lines, 12u);
    const int table = command - '0';
    const std::string entry6 =
        base::Format(":0x6] Starts\t%u\r\n", ServiceTotalValue(7001, table, 6));
    EXPECT_NE(answer.find(entry6), std::string::npos) << answer;
  }
}

TEST(SimFaults, BackupFaultsAreParsedAndShown) {
  Faults faults;
  ApplyFaults(nlohmann::json{{"noFlashImage", true}, {"serviceDead", true}, {"rebootOnWrite", 100}},
              faults);
  EXPECT_TRUE(faults.noFlashImage);
  EXPECT_TRUE(faults.serviceDead);
  EXPECT_EQ(faults.rebootOnWrite, 100u);
  EXPECT_TRUE(faults.Any());
  const auto shown = FaultsToJson(faults);
  EXPECT_EQ(shown["rebootOnWrite"], 100);
  EXPECT_THROW(ApplyFaults(nlohmann::json{{"rebootOnWrite", 70000}}, faults), LineError);
}

TEST(SimSetFirstLast, TheAddressedModuleTakesThePositionAndAnswers) {
  std::vector<std::unique_ptr<SimModule>> modules;
  modules.push_back(std::make_unique<SimModule>(ModuleOf(0x00, 4, 12)));
  ModuleSetup other = ModuleOf(0x00, 4, 12);
  other.serial = 7002;
  other.mac = MacFromSerial(7002);
  other.address = *ParseIpv4("192.168.202.21");
  modules.push_back(std::make_unique<SimModule>(other));
  Timing timing;
  UdpResponder responder(modules, timing, 3);
  std::vector<uint8_t> payload(8 + 20, 0);
  payload[0] = kCodeSetFirstLast;
  payload[3] = 20;
  base::PutBE32(payload.data() + 8, 7001);
  payload[8 + 16] = 1;  // first
  UdpFrameFields fields;
  fields.destinationMac = modules[0]->MacAddress();
  fields.sourceMac = {0x02, 0, 0, 0, 0, 1};
  fields.sourceAddress = *ParseIpv4("192.168.202.10");
  fields.destinationAddress = 0xFFFFFFFFu;
  fields.sourcePort = 44532;
  fields.destinationPort = kModulePort;
  const auto frame = BuildUdpFrame(fields, payload.data(), payload.size());
  const auto out = responder.OnFrame(frame.data(), frame.size());
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].module, 0u);
  EXPECT_EQ(modules[0]->LinePosition(), 1);
  EXPECT_EQ(modules[1]->LinePosition(), 0xFF);
  const auto parsed = ParseUdpFrame(out[0].bytes.data(), out[0].bytes.size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->payload[0], kCodeSetFirstLastAnswer);
  EXPECT_EQ(parsed->payload[8 + 16], 1);

  // A request naming another serial at this MAC changes nothing.
  base::PutBE32(payload.data() + 8, 7002);
  const auto wrong = BuildUdpFrame(fields, payload.data(), payload.size());
  EXPECT_TRUE(responder.OnFrame(wrong.data(), wrong.size()).empty());
}

}  // namespace
}  // namespace sim
