#include <gtest/gtest.h>

#include "sim/line.h"
#include "sim/modbus.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

ModuleSetup TestModuleSetup() {
  ModuleSetup setup;
  setup.serial = 0x00010203;
  setup.address = *ParseIpv4("192.168.202.21");
  setup.mask = *ParseIpv4("255.255.255.0");
  setup.family = 0x09;
  setup.firmwareMajor = 4;
  setup.firmwareMinor = 14;
  return setup;
}

// Runs a whole byte stream through the parser the way a connection does.
struct StreamResult {
  Bytes answers;
  bool closed = false;
  size_t leftOver = 0;
};
StreamResult Feed(SimModule& module, const Bytes& stream) {
  StreamResult result;
  size_t used = 0;
  for (;;) {
    ModbusRequest request;
    const Extract extract = ExtractRequest(stream.data() + used, stream.size() - used, request);
    if (extract == Extract::kNeedMore) break;
    if (extract == Extract::kMalformed) {
      result.closed = true;
      return result;
    }
    used += request.frameLength;
    ModbusAnswer answer = AnswerRequest(request, module, request.transaction);
    if (answer.close) {
      result.closed = true;
      return result;
    }
    result.answers.insert(result.answers.end(), answer.bytes.begin(), answer.bytes.end());
  }
  result.leftOver = stream.size() - used;
  return result;
}

TEST(SimModbus, AnswersHaveTheExactFraming) {
  const struct {
    const char* what;
    Bytes request;
    Bytes answer;
  } cases[] = {
      {"read 28..29 (serial)",
       {0x12, 0x34, 0, 0, 0, 6, 1, 3, 0, 27, 0, 2},
       {0x12, 0x34, 0, 0, 0, 7, 1, 3, 4, 0x02, 0x03, 0x00, 0x01}},
      {"any unit id is answered",
       {0, 9, 0, 0, 0, 6, 0xF7, 3, 0, 27, 0, 1},
       {0, 9, 0, 0, 0, 5, 0xF7, 3, 2, 0x02, 0x03}},
      {"write single echoes address and value",
       {0, 1, 0, 0, 0, 6, 1, 6, 0, 39, 0x01, 0xF4},
       {0, 1, 0, 0, 0, 6, 1, 6, 0, 39, 0x01, 0xF4}},
      {"write multiple answers address and quantity",
       {0, 2, 0, 0, 0, 11, 1, 16, 0, 39, 0, 2, 4, 0, 5, 0, 6},
       {0, 2, 0, 0, 0, 6, 1, 16, 0, 39, 0, 2}},
      {"unknown function: exception 1", {0, 3, 0, 0, 0, 2, 1, 4}, {0, 3, 0, 0, 0, 3, 1, 0x84, 1}},
      {"function 4 with data: exception 1",
       {0, 3, 0, 0, 0, 6, 1, 4, 0, 0, 0, 1},
       {0, 3, 0, 0, 0, 3, 1, 0x84, 1}},
      {"register 0 does not exist: exception 2",
       {0, 4, 0, 0, 0, 6, 1, 3, 0xFF, 0xFF, 0, 1},
       {0, 4, 0, 0, 0, 3, 1, 0x83, 2}},
      {"read past 512: exception 2",
       {0, 5, 0, 0, 0, 6, 1, 3, 1, 255, 0, 2},
       {0, 5, 0, 0, 0, 3, 1, 0x83, 2}},
      {"write to a log: exception 2",
       {0, 6, 0, 0, 0, 6, 1, 6, 0x27, 0xD7, 0, 1},
       {0, 6, 0, 0, 0, 3, 1, 0x86, 2}},
      {"quantity 0: exception 3",
       {0, 7, 0, 0, 0, 6, 1, 3, 0, 0, 0, 0},
       {0, 7, 0, 0, 0, 3, 1, 0x83, 3}},
      {"read above one answer: exception 3",
       {0, 8, 0, 0, 0, 6, 1, 3, 0, 0, 0x04, 0x00},
       {0, 8, 0, 0, 0, 3, 1, 0x83, 3}},
      {"write quantity 0: exception 3",
       {0, 9, 0, 0, 0, 7, 1, 16, 0, 39, 0, 0, 0},
       {0, 9, 0, 0, 0, 3, 1, 0x90, 3}},
      {"write byte count not twice the quantity: exception 3",
       {0, 10, 0, 0, 0, 9, 1, 16, 0, 39, 0, 2, 2, 0, 5},
       {0, 10, 0, 0, 0, 3, 1, 0x90, 3}},
  };
  for (const auto& c : cases) {
    SimModule module(TestModuleSetup());
    const StreamResult result = Feed(module, c.request);
    EXPECT_FALSE(result.closed) << c.what;
    EXPECT_EQ(result.answers, c.answer) << c.what;
  }
}

TEST(SimModbus, RefusedRegistersAndShortAnswers) {
  const struct {
    const char* what;
    nlohmann::json fault;
    Bytes request;
    Bytes answer;
  } cases[] = {
      {"a read touching a refused register: exception 2",
       {{"refuse", nlohmann::json::array({30, 32})}},
       {0, 1, 0, 0, 0, 6, 1, 3, 0, 24, 0, 6},  // 25..30
       {0, 1, 0, 0, 0, 3, 1, 0x83, 2}},
      {"a read beside it is answered",
       {{"refuse", nlohmann::json::array({30, 32})}},
       {0, 1, 0, 0, 0, 6, 1, 3, 0, 24, 0, 5},  // 25..29
       {0, 1, 0, 0, 0, 13, 1, 3, 10, 0x68, 0x0E, 0xC0, 0xA8, 0xCA, 0x15, 0x02, 0x03, 0, 1}},
      {"a single write to it: exception 2",
       {{"refuse", 40}},
       {0, 2, 0, 0, 0, 6, 1, 6, 0, 39, 0x01, 0xF4},
       {0, 2, 0, 0, 0, 3, 1, 0x86, 2}},
      {"a multiple write over it: exception 2",
       {{"refuse", 40}},
       {0, 3, 0, 0, 0, 11, 1, 16, 0, 38, 0, 2, 4, 0, 5, 0, 6},
       {0, 3, 0, 0, 0, 3, 1, 0x90, 2}},
      {"a short answer lacks its last register, its fields agree",
       {{"shortModbus", true}},
       {0, 4, 0, 0, 0, 6, 1, 3, 0, 24, 0, 2},  // 25..26
       {0, 4, 0, 0, 0, 5, 1, 3, 2, 0x68, 0x0E}},
  };
  for (const auto& c : cases) {
    SimModule module(TestModuleSetup());
    ApplyFaults(c.fault, module.ModuleFaults());
    EXPECT_EQ(Feed(module, c.request).answers, c.answer) << c.what;
  }
  // Nothing was written through a refused register.
  SimModule module(TestModuleSetup());
  ApplyFaults({{"refuse", 40}}, module.ModuleFaults());
  Feed(module, {0, 2, 0, 0, 0, 6, 1, 6, 0, 39, 0x01, 0x23});
  uint16_t value = 0;
  ASSERT_EQ(module.Read(40, 1, &value), 0);
  EXPECT_NE(value, 0x0123);
}

TEST(SimModbus, MalformedRequestsCloseTheConnection) {
  const struct {
    const char* what;
    Bytes request;
  } cases[] = {
      {"protocol id not 0", {0, 1, 0, 1, 0, 6, 1, 3, 0, 0, 0, 1}},
      {"length field 1", {0, 1, 0, 0, 0, 1, 1}},
      {"length field 0", {0, 1, 0, 0, 0, 0}},
      {"length field far too long", {0, 1, 0, 0, 0x10, 0, 1, 3}},
      {"read with a short body", {0, 1, 0, 0, 0, 5, 1, 3, 0, 0, 1}},
      {"read with a long body", {0, 1, 0, 0, 0, 7, 1, 3, 0, 0, 0, 1, 0}},
      {"write single with a short body", {0, 1, 0, 0, 0, 4, 1, 6, 0, 0}},
      {"write multiple shorter than its byte count",
       {0, 1, 0, 0, 0, 9, 1, 16, 0, 0, 0, 2, 4, 0, 1}},
      {"write multiple without a byte count", {0, 1, 0, 0, 0, 6, 1, 16, 0, 0, 0, 2}},
  };
  for (const auto& c : cases) {
    SimModule module(TestModuleSetup());
    EXPECT_TRUE(Feed(module, c.request).closed) << c.what;
  }
}

TEST(SimModbus, SeveralRequestsInOneSegmentAreAnsweredInOrderAndAPartialOneWaits) {
  SimModule module(TestModuleSetup());
  Bytes stream = {0, 1, 0, 0, 0, 6, 1, 6, 0, 42, 0x12, 0x34,  // write 43 = 0x1234
                  0, 2, 0, 0, 0, 6, 1, 3, 0, 42, 0,    1,     // read 43
                  0, 3, 0, 0, 0, 6, 1, 3, 0};                 // the start of a third
  const StreamResult result = Feed(module, stream);
  const Bytes expected = {0, 1, 0, 0, 0, 6, 1, 6, 0, 42,   0x12, 0x34,
                          0, 2, 0, 0, 0, 5, 1, 3, 2, 0x12, 0x34};
  EXPECT_EQ(result.answers, expected);
  EXPECT_EQ(result.leftOver, 9u);
  EXPECT_EQ(module.Counters().readRequests, 1u);
  EXPECT_EQ(module.Counters().writeSingleRequests, 1u);
}

TEST(SimModbus, DiagnosticLogIsReadWholeIn600Registers) {
  SimModule module(TestModuleSetup());
  const Bytes request = {0, 1, 0, 0, 0, 6, 1, 3, 0x27, 0xD7, 0x02, 0x58};  // 10200, 600 registers
  const StreamResult result = Feed(module, request);
  ASSERT_EQ(result.answers.size(), 9u + 1200u);
  EXPECT_EQ((result.answers[4] << 8) | result.answers[5], 3 + 1200);
  std::vector<uint16_t> log(600);
  ASSERT_EQ(module.Read(10200, 600, log.data()), 0);
  EXPECT_EQ((result.answers[9] << 8) | result.answers[10], log[0]);
  EXPECT_NE(log[0], 0);
}

TEST(SimModbus, AWriteToTheCommandBlockIsStoredBeforeItRuns) {
  SimModule module(TestModuleSetup());
  const Bytes request = {0, 1, 0, 0, 0, 13, 1, 16, 0, 250, 0, 3, 6, 0, 3, 0, 39, 0, 1};
  const StreamResult result = Feed(module, request);
  ASSERT_FALSE(result.closed);
  const auto command = module.TakeCommand();
  ASSERT_TRUE(command);
  EXPECT_EQ(command->kind, CommandKind::kSave);
  EXPECT_EQ(command->first, 39);
  EXPECT_EQ(command->count, 1);
}

}  // namespace
}  // namespace sim
