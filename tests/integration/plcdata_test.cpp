// PLC data requests against linesim modules inside a lab: quillmar-cli plcdata reads, writes
// and sets bits that linesim's control socket reads back; the request manager itself meets a
// silent module, a doubled answer and an error answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "platform/tick.h"
#include "plc/exchange.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

constexpr uint32_t kPlcModule = 3100301;  // node 1, 192.168.202.20, initial data in plc.json
constexpr const char* kPlcAddress = "192.168.202.20";

std::string AreaHex(const test::Linesim& line, uint32_t offset, uint32_t count) {
  return line
      .Ok({{"cmd", "plc-read"}, {"module", kPlcModule}, {"offset", offset}, {"count", count}})
      .at("hex");
}

TEST(PlcDataCli, AWriteIsReadBack) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/plc.json"));

  test::RunResult run = test::RunCli(
      lab, {"plcdata", "1", "write", "100", "0x1234", "--size", "2", "--net", "192.168.202.0"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(AreaHex(line, 100, 2), "3412");

  run = test::RunCli(lab, {"plcdata", kPlcAddress, "write", "200", "-2", "--size", "1"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(AreaHex(line, 200, 2), "FE00");

  run = test::RunCli(lab, {"plcdata", kPlcAddress, "set-bit", "100", "31"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  run = test::RunCli(lab, {"plcdata", kPlcAddress, "clear-bit", "100", "4"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(AreaHex(line, 100, 4), "24120080");

  run = test::RunCli(lab, {"--json", "plcdata", kPlcAddress, "read", "98", "6"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(json::parse(run.out).at("hex"), "000024120080");

  // Over a block border: two requests, the line file's data at 2004 included.
  run = test::RunCli(lab, {"--json", "plcdata", kPlcAddress, "read", "0", "2006"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string hex = json::parse(run.out).at("hex");
  ASSERT_EQ(hex.size(), 2006u * 2);
  EXPECT_EQ(hex.substr(0, 8), "09000080");
  EXPECT_EQ(hex.substr(2004 * 2, 4), "2A00");
}

TEST(PlcDataCli, RefusedInputSendsNothing) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/plc.json"));
  const std::vector<std::vector<std::string>> refused = {{"write", "100", "256", "--size", "1"},
                                                         {"write", "100", "1", "--size", "3"},
                                                         {"write", "9999", "1", "--size", "2"},
                                                         {"read", "9000", "1001"},
                                                         {"set-bit", "0", "32"},
                                                         {"read", "0", "x"},
                                                         {"watch"},
                                                         {"erase", "0"}};
  for (const auto& args : refused) {
    std::vector<std::string> argv{"plcdata", kPlcAddress};
    argv.insert(argv.end(), args.begin(), args.end());
    const test::RunResult run = test::RunCli(lab, argv);
    EXPECT_EQ(run.exitCode, 2) << args[0] << " " << run.err;
    EXPECT_THAT(run.err, HasSubstr("nothing was sent")) << run.err;
  }
  EXPECT_EQ(
      line.Ok({{"cmd", "plc-read"}, {"module", kPlcModule}, {"offset", 0u}}).at("plcRequests"), 0);
}

TEST(PlcDataCli, WatchShowsTheTags) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/plc.json"));
  test::BackgroundProcess watch =
      lab.Start("pc", {test::BuiltProgram("apps/quillmar-cli"), "plcdata", kPlcAddress, "watch",
                       "--tags", test::SourceFile("sim/lines/plc.tags.json")});
  ASSERT_TRUE(watch.WaitForOutput("Zähler = 42", 20000)) << watch.Stdout() << watch.Stderr();
  const std::string first = watch.Stdout();
  EXPECT_THAT(first, HasSubstr("Störung = 1"));
  EXPECT_THAT(first, HasSubstr("Stau links = 1"));
  EXPECT_THAT(first, HasSubstr("Weg = 500 mm"));
  EXPECT_THAT(first, HasSubstr("Modus = Automatik"));
  line.Ok({{"cmd", "plc-write"},
           {"module", kPlcModule},
           {"offset", 2004u},
           {"value", 7u},
           {"size", 2u}});
  EXPECT_TRUE(watch.WaitForOutput("Zähler = 7", 20000)) << watch.Stdout();
  watch.Signal(SIGINT);
  const auto status = watch.Wait(10000);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 130);
}

// Tags show values only of the program they were written for: on a module that runs another
// program, or none, watch names it and shows nothing.
TEST(PlcDataCli, WatchRefusesTagsOfAnotherProgram) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/plc.json"));
  struct Case {
    const char* address;
    const char* why;
  };
  for (const Case& c : {Case{"192.168.202.21", "runs the PLC program \"PLCDATA_Mixer\""},
                        Case{"192.168.202.22", "runs no PLC program"}}) {
    const test::RunResult run = test::RunCli(
        lab, {"plcdata", c.address, "watch", "--tags", test::SourceFile("sim/lines/plc.tags.json")},
        30000);
    EXPECT_EQ(run.exitCode, 1) << c.address << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.why)) << c.address;
    EXPECT_THAT(run.err, HasSubstr("the tags are for \"Sorter\"")) << c.address;
    EXPECT_EQ(run.out.find(" = "), std::string::npos) << "no value shown: " << run.out;
  }
}

// The request manager in the lab's PC namespace: one request to the PLC module, with the
// module's fault set first. Reports "state elapsedMs repetitions".
std::string OneRequest(const test::Lab& lab) {
  const auto text = lab.RunInNamespaceForText("pc", [] {
    plc::CRequestQueue queue;
    plc::CRequestManager manager(queue, {plc::kPlcDataPort, 0});
    plc::CTagRequest* r = queue.Append(plc::CTagRequest::Read(kPlcAddress, 0, 4));
    manager.SubmitRequest(r);
    uint32_t state = 0, sentAt = 0, endedAt = 0;
    for (int i = 0; i < 1000; ++i) {
      {
        std::lock_guard<std::mutex> lock(queue.Lock());
        state = r->state;
        sentAt = r->sentAt;
      }
      if (plc::IsFinalState(state)) {
        endedAt = platform::GetTickCount();
        break;
      }
      platform::SleepMs(2);
    }
    platform::SleepMs(100);  // a doubled answer's second copy
    return std::to_string(state) + " " + std::to_string(endedAt - sentAt) + " " +
           std::to_string(manager.Repetitions());
  });
  return text.value_or("child failed");
}

TEST(PlcDataManager, SilentDoubledAndRefusingModules) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/plc.json"));

  line.SetFault(kPlcModule, {{"plcSilent", true}});
  std::istringstream silent(OneRequest(lab));
  uint32_t state = 0, elapsed = 0, repetitions = 0;
  silent >> state >> elapsed >> repetitions;
  EXPECT_EQ(state, plc::kStateNoAnswer);
  EXPECT_GE(elapsed, 400u) << "no time-out before 400 ms";

  line.ClearFaults(kPlcModule);
  line.SetFault(kPlcModule, {{"plcDuplicate", true}});
  std::istringstream doubled(OneRequest(lab));
  doubled >> state >> elapsed >> repetitions;
  EXPECT_EQ(state, plc::kStateAnswered);
  EXPECT_EQ(repetitions, 1u) << "the second copy is a repetition";

  line.ClearFaults(kPlcModule);
  line.SetFault(kPlcModule, {{"plcError", 5}});
  std::istringstream refused(OneRequest(lab));
  refused >> state;
  EXPECT_EQ(state, plc::kStateError);
  const test::RunResult run = test::RunCli(lab, {"plcdata", kPlcAddress, "read", "0", "4"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("status 0x85"));

  line.ClearFaults(kPlcModule);
  line.SetFault(kPlcModule, {{"plcSilent", true}});
  const test::RunResult silentRun =
      test::RunCli(lab, {"plcdata", kPlcAddress, "write", "0", "1", "--size", "1"});
  EXPECT_EQ(silentRun.exitCode, 1);
  EXPECT_THAT(silentRun.err, HasSubstr("did not answer within 400 ms"));
}

}  // namespace
