// quillmar-cli modules against linesim's demo line inside a lab: the list and count line, a
// change of a module's address by Set NodeIP, the checks that send nothing, and DHCP off.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

TEST(ModulesCli, ListsTheModulesWithTheCountLine) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const auto run = test::RunCli(lab, {"modules"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("192.168.202.20, 3100101, 4.14 {Brevantrix UX, First}\n"));
  EXPECT_THAT(run.out, HasSubstr("192.168.202.22, 3100103, 4.12 {Brevantrix}\n"));
  EXPECT_THAT(run.out, HasSubstr("Entdeckt = 12, Geschützt = 0, Angezeigt = 12"));
  const auto filtered = test::RunCli(lab, {"modules", "--subnet", "192.168.203.0", "--json"});
  ASSERT_EQ(filtered.exitCode, 0) << filtered.err;
  const json out = json::parse(filtered.out);
  EXPECT_EQ(out["count"], "Entdeckt = 12, Geschützt = 0, Angezeigt = 0");
  EXPECT_EQ(out["subnets"], json::array({"<<< Alle Netzwerke >>>", "192.168.202.0"}));
}

TEST(ModulesCli, SetChangesTheModulesAddress) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const auto run =
      test::RunCli(lab, {"modules", "set", "192.168.202.22", "--ip", "192.168.202.77"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(line.Module(3100103).address, "192.168.202.77");
  EXPECT_EQ(line.Module(3100103).mask, "255.255.255.0");
  // The module answers on its new address.
  const auto listed = test::RunCli(lab, {"modules"});
  EXPECT_THAT(listed.out, HasSubstr("192.168.202.77, 3100103"));

  // The page's checks refuse and send nothing.
  const struct {
    std::vector<std::string> args;
    const char* text;
  } refused[] = {
      {{"--ip", "192.168.202.255"}, "no byte may be 255"},
      {{"--ip", "192.168.202.78", "--serial", "5"}, "Can't change the IP and the Serial No."},
      {{"--serial", "-3"}, "SerialNo has to be > 0."},
      {{}, "nothing to change !?!"},
  };
  for (const auto& c : refused) {
    std::vector<std::string> args{"modules", "set", "192.168.202.23"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto again = test::RunCli(lab, args);
    EXPECT_EQ(again.exitCode, 2) << c.text;
    EXPECT_THAT(again.err, HasSubstr(c.text));
  }
  EXPECT_EQ(line.Module(3100104).address, "192.168.202.23");

  // A new serial with the address unchanged.
  const auto serial =
      test::RunCli(lab, {"modules", "set", "192.168.202.23", "--serial", "3999999"});
  ASSERT_EQ(serial.exitCode, 0) << serial.err;
  EXPECT_EQ(line.Module(3999999).address, "192.168.202.23");
}

// A module that answers Set NodeIP but keeps its settings has not taken them: exit 1 with the
// setting named.
TEST(ModulesCli, ASetNodeIpAnswerWithoutTheSettingsAskedIsAFailure) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.SetFault(3100103, {{"keepsNetwork", true}});
  const auto run =
      test::RunCli(lab, {"modules", "set", "192.168.202.22", "--ip", "192.168.202.77"});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("did not take the IP address: it answered 192.168.202.22 "
                                 "instead of 192.168.202.77"));
  EXPECT_EQ(line.Module(3100103).address, "192.168.202.22");

  const auto mask =
      test::RunCli(lab, {"modules", "set", "192.168.202.22", "--mask", "255.255.0.0"});
  EXPECT_EQ(mask.exitCode, 1) << mask.out << mask.err;
  EXPECT_THAT(mask.err, HasSubstr("did not take the subnet mask"));
}

TEST(ModulesCli, DhcpOffAndResetName) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const auto run = test::RunCli(lab, {"modules", "dhcp-off", "192.168.202.21"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(test::Linesim::WaitUntil(
      [&] {
        return !line.Ok({{"cmd", "files"}, {"module", 3100102}})["files"]["dhcp"];
      },
      2000));
  EXPECT_TRUE(line.Ok({{"cmd", "files"}, {"module", 3100101}})["files"]["dhcp"]);
  // Off a terminal without --yes the question is answered No: nothing is sent.
  const auto unconfirmed = test::RunCli(lab, {"modules", "reset-name", "192.168.202.25"});
  EXPECT_EQ(unconfirmed.exitCode, 2);
  EXPECT_EQ(line.Module(3100106).address, "192.168.202.25");
  const auto reset = test::RunCli(lab, {"--yes", "modules", "reset-name", "192.168.202.25"});
  ASSERT_EQ(reset.exitCode, 0) << reset.err;
  EXPECT_TRUE(
      test::Linesim::WaitUntil([&] { return line.Module(3100106).address == "0.0.0.0"; }, 2000));
}

TEST(ModulesCli, LockAndUnlockANetwork) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const auto lockState = [&](uint32_t serial) {
    return line.Ok({{"cmd", "files"}, {"module", serial}})["files"]["plcLock"].get<int>();
  };
  const auto locked = test::RunCli(lab, {"modules", "lock", "192.168.202.0"});
  ASSERT_EQ(locked.exitCode, 0) << locked.err;
  EXPECT_THAT(locked.out, HasSubstr("locked 12 modules of 192.168.202.0"));
  EXPECT_EQ(lockState(3100101), 1);
  EXPECT_EQ(lockState(3100206), 1);
  const auto unlocked = test::RunCli(lab, {"modules", "unlock", "192.168.202.0"});
  ASSERT_EQ(unlocked.exitCode, 0) << unlocked.err;
  EXPECT_EQ(lockState(3100101), 0);
  EXPECT_EQ(lockState(3100206), 0);
  // Another network: no module of the line is touched.
  const auto other = test::RunCli(lab, {"modules", "lock", "192.168.203.0"});
  EXPECT_THAT(other.out, HasSubstr("locked 0 modules"));
  EXPECT_EQ(lockState(3100101), 0);
}

}  // namespace
