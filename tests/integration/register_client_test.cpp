// The register client and the register map against linesim modules inside a lab.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <string>

#include "comm/blocking_socket.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/mreg_app.h"
#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "params/register_map.h"
#include "platform/tick.h"

namespace {

using nlohmann::json;

constexpr uint32_t kPlainModule = 3100103;     // node 3, family 0x00
constexpr uint32_t kNode4ReversedModule = 3100104;  // node 4, mounted reversed
constexpr uint32_t kNode2Family9Module = 3100102;   // node 2

std::string DemoLineFile() {
  return test::SourceFile("sim/lines/demo.json");
}

bool BackAlive(const test::Linesim& line, uint32_t serial, uint32_t timeoutMs) {
  return test::Linesim::WaitUntil(
      [&] {
        const auto module = line.Module(serial);
        return module.alive && !module.rebooting && module.reachable;
      },
      timeoutMs);
}

TEST(RegisterClientLab, ConnectAddsAnUnknownModuleAndLogsItsIdentity) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, DemoLineFile());
  const test::LinesimModule module = line.Module(kPlainModule);
  // The module keeps quiet to discovery, so the fast discovery does not learn it.
  line.SetFault(kPlainModule, {{"drop", 1.0}, {"discovery", true}, {"modbus", false}});
  in_addr address{};
  inet_pton(AF_INET, module.address.c_str(), &address);
  const std::string expectedLine = "! Connected to Node SN: 3100103, IP = 0x" + [&] {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04x", address.s_addr);
    return std::string(hex);
  }() + ", MAC addr. " + module.mac;

  const auto report = lab.RunInNamespaceForText("pc", [&]() -> std::string {
    fixtures::ScopedTempLog log;
    json result;
    {
      CMRegApp app;
      discovery::ScopedConnectInventory link(app);
      CBlockingSocket client;
      result["connect"] = client._Connect(module.address, 502, true);
      result["discoverDone"] = app.discoverDone.load();
      result["selected"] = app.SelectedAdapterName();
      int index = -1;
      AdapterPtr adapter;
      MacAddress mac{};
      unsigned bytes[6];
      std::sscanf(module.mac.c_str(), "%02X:%02X:%02X:%02X:%02X:%02X", &bytes[0], &bytes[1],
                  &bytes[2], &bytes[3], &bytes[4], &bytes[5]);
      for (int k = 0; k < 6; ++k) mac[k] = static_cast<uint8_t>(bytes[k]);
      NodePtr node = app.FindNodeByMac(mac, &index, &adapter);
      result["found"] = node != nullptr;
      if (node) {
        result["serial"] = node->serialNumber;
        result["ipText"] = node->ipText;
      }
      size_t nodes = 0;
      for (const auto& a : app.AdaptersSnapshot()) nodes += a->NodeCount();
      result["nodes"] = nodes;
    }
    result["log"] = log.Messages();
    return result.dump();
  });
  ASSERT_TRUE(report.has_value());
  const json result = json::parse(*report);
  EXPECT_EQ(result["connect"], 1);
  EXPECT_FALSE(result["selected"].get<std::string>().empty());
  EXPECT_EQ(result["found"], true);
  EXPECT_EQ(result["serial"], kPlainModule);
  EXPECT_EQ(result["ipText"], module.address);
  EXPECT_EQ(result["nodes"], 12u);  // eleven from the fast discovery, this one added
  const auto messages = result["log"].get<std::vector<std::string>>();
  auto has = [&](const std::string& text) {
    for (const auto& m : messages) {
      if (m.find(text) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(has("Sockets::_Connect - no Discover yet! Going to do Fast discover..."));
  EXPECT_TRUE(has(expectedLine)) << expectedLine;
}

TEST(RegisterClientLab, ValueSavedToFlashSurvivesARestart) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, DemoLineFile());
  const test::LinesimModule module = line.Module(kNode2Family9Module);
  const uint16_t before = line.Read(kNode2Family9Module, 43, 1, true).at(0);
  const uint16_t value = static_cast<uint16_t>(before == 1234 ? 1235 : 1234);

  const int saved = lab.RunInNamespace("pc", [&] {
    CBlockingSocket client;
    client._Connect(module.address, 502, false);
    return client.SaveToFlash(43, value);
  });
  ASSERT_EQ(saved, 1);
  EXPECT_EQ(line.Read(kNode2Family9Module, 43, 1, true).at(0), value);
  const auto counters = line.Counters(kNode2Family9Module);
  EXPECT_EQ(counters.saves, 1u);
  EXPECT_EQ(counters.lastSaveFirst, 43);
  EXPECT_EQ(counters.lastSaveCount, 1);

  line.Reboot(kNode2Family9Module);
  ASSERT_TRUE(BackAlive(line, kNode2Family9Module, 30000));
  const int readBack = lab.RunInNamespace("pc", [&] {
    CBlockingSocket client;
    client._Connect(module.address, 502, false);
    uint16_t word = 0;
    if (client.ReadMultiplyRegisters(43, 1, &word) != 1) return -1;
    return static_cast<int>(ntohs(word));
  });
  EXPECT_EQ(readBack, value);
}

TEST(RegisterClientLab, ReversedModulesLeftDriveIsWrittenAt64) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, DemoLineFile());
  const test::LinesimModule module = line.Module(kNode4ReversedModule);
  ASSERT_EQ(module.variant, 4);
  const uint16_t left40 = line.Read(kNode4ReversedModule, 40).at(0);
  const uint16_t value =
      static_cast<uint16_t>(line.Read(kNode4ReversedModule, 64).at(0) == 777 ? 778 : 777);

  const auto report = lab.RunInNamespaceForText("pc", [&]() -> std::string {
    CBlockingSocket client;
    client._Connect(module.address, 502, false);
    params::ClientRegisterAccess access(client);
    params::RegisterMap map(access);
    json result;
    result["fullRead"] = map.FullRead().ok;  // learns register 6
    result["mirror"] = map.MirrorInForce();
    result["saved"] = map.SaveToFlash(40, value);
    result["shown"] = map.ReadOne(40).value_or(0);
    return result.dump();
  });
  ASSERT_TRUE(report.has_value());
  const json result = json::parse(*report);
  EXPECT_EQ(result["fullRead"], true);
  EXPECT_EQ(result["mirror"], true);
  EXPECT_EQ(result["saved"], true);
  EXPECT_EQ(result["shown"], value);
  EXPECT_EQ(line.Read(kNode4ReversedModule, 64, 1, true).at(0), value);
  EXPECT_EQ(line.Read(kNode4ReversedModule, 40).at(0), left40);
  EXPECT_EQ(line.Counters(kNode4ReversedModule).lastSaveFirst, 64);
}

TEST(RegisterClientLab, ResetModuleRestartsTheModule) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, DemoLineFile());
  const test::LinesimModule module = line.Module(kPlainModule);
  const int result = lab.RunInNamespace(
      "pc",
      [&] {
        CBlockingSocket client;
        client._Connect(module.address, 502, false);
        std::atomic<int> progress{0};
        const int reset = client.ResetModule(&progress);
        return reset == 1 && progress.load() == 75 ? 1 : 0;
      },
      60000);
  EXPECT_EQ(result, 1);
  const auto counters = line.Counters(kPlainModule);
  EXPECT_EQ(counters.restarts, 1u);
  EXPECT_TRUE(BackAlive(line, kPlainModule, 30000));
}

TEST(RegisterClientLab, ConnectToAnAddressThatNeverAnswersGivesUpAfterFiveSeconds) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  // A neighbour entry that nobody behind the veth owns: the SYNs leave and meet silence.
  ASSERT_EQ(lab.Exec("pc", {"ip", "neigh", "add", "192.168.202.77", "lladdr", "02:00:00:00:00:77",
                            "dev", lab.PcInterface(), "nud", "permanent"})
                .exitCode,
            0);
  const auto report = lab.RunInNamespaceForText("pc", [&]() -> std::string {
    CBlockingSocket client;
    const uint32_t start = platform::GetTickCount();
    json result;
    try {
      client._Connect("192.168.202.77", 502, false);
      result["thrown"] = false;
    } catch (const CBlockingSocketException& e) {
      result["thrown"] = true;
      result["text"] = e.Text();
      result["number"] = e.Number();
    }
    result["elapsed"] = platform::TicksSince(start);
    result["open"] = client.IsOpen();
    return result.dump();
  });
  ASSERT_TRUE(report.has_value());
  const json result = json::parse(*report);
  EXPECT_EQ(result["thrown"], true);
  EXPECT_EQ(result["text"], "Connect");
  EXPECT_EQ(result["number"], 10060);
  EXPECT_GE(result["elapsed"].get<uint32_t>(), 4900u);
  EXPECT_LT(result["elapsed"].get<uint32_t>(), 15000u);  // not the kernel's two minutes
  EXPECT_EQ(result["open"], false);
}

}  // namespace

namespace {

TEST(RegisterCliLab, ReadWriteSaveAndImage) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, DemoLineFile());
  const std::string net = "192.168.202.0";

  // read: node 2 is 192.168.202.21.
  line.Write(kNode2Family9Module, 40, {1500, 3600});
  test::RunResult read = test::RunCli(lab, {"--json", "read", "2", "40", "2", "--net", net});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  const json values = json::parse(read.out);
  EXPECT_EQ(values["ip"], "192.168.202.21");
  EXPECT_EQ(values["first"], 40);
  EXPECT_EQ(values["values"], json::array({1500, 3600}));
  read = test::RunCli(lab, {"read", "192.168.202.21", "40", "--net", net});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(read.out, "40 = 1500 (0x05DC)\n");

  // write: a single register by function 6, a run by function 16, both saved.
  line.ResetCounters();
  const test::RunResult write =
      test::RunCli(lab, {"write", "2", "43=700", "50=5", "51=0xFFFF", "--save", "--net", net});
  ASSERT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(line.Read(kNode2Family9Module, 43, 1, true).at(0), 700);
  EXPECT_EQ(line.Read(kNode2Family9Module, 50, 2, true), (std::vector<uint16_t>{5, 0xFFFF}));
  const auto counters = line.Counters(kNode2Family9Module);
  EXPECT_EQ(counters.writeSingles, 1u);
  EXPECT_EQ(counters.writeMultiples, 3u);  // two command blocks and the run 50..51
  EXPECT_EQ(counters.saves, 2u);
  EXPECT_EQ(counters.lastSaveFirst, 50);
  EXPECT_EQ(counters.lastSaveCount, 2);

  // Refused before anything is sent.
  line.ResetCounters();
  const test::RunResult tooBig = test::RunCli(lab, {"write", "2", "43=65536", "--net", net});
  EXPECT_EQ(tooBig.exitCode, 2);
  EXPECT_NE(tooBig.err.find("does not fit a 16-bit register"), std::string::npos) << tooBig.err;
  const test::RunResult badNode = test::RunCli(lab, {"read", "237", "40", "--net", net});
  EXPECT_EQ(badNode.exitCode, 2);
  EXPECT_NE(badNode.err.find("Falsche Module Nummer. Nur Nummern von 1 bis 236 sind gültig."),
            std::string::npos);
  EXPECT_EQ(line.Counters(kNode2Family9Module).connections, 0u);

  // A module that is not there: the reason is named, the exit status is not 0.
  const test::RunResult missing = test::RunCli(lab, {"read", "192.168.202.99", "40"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("Verbindung zu Modul IP 192.168.202.99 (IP: \"192.168.202.99\") "
                             "nicht möglich."),
            std::string::npos)
      << missing.err;

  // image of the reversed module: identity decoded, the refresh's registers listed.
  const test::LinesimModule reversed = line.Module(kNode4ReversedModule);
  const test::RunResult image = test::RunCli(lab, {"--json", "image", reversed.address});
  ASSERT_EQ(image.exitCode, 0) << image.err;
  const json shown = json::parse(image.out);
  EXPECT_EQ(shown["serial"], kNode4ReversedModule);
  EXPECT_EQ(shown["mac"], reversed.mac);
  EXPECT_EQ(shown["address"], reversed.address);
  EXPECT_EQ(shown["family"], "0x03");
  EXPECT_EQ(shown["firmware"], "4.10");
  EXPECT_EQ(shown["type"], 3);
  EXPECT_EQ(shown["mirrored"], true);
  const json& registers = shown["registers"];
  for (const char* reg : {"6", "17", "36", "40", "88", "90", "117", "170", "197", "254", "362"}) {
    EXPECT_TRUE(registers.contains(reg)) << reg;
  }
  EXPECT_FALSE(registers.contains("279"));  // group 8 belongs to the rotating passes
  EXPECT_EQ(registers["64"], line.Read(kNode4ReversedModule, 64).at(0));
}

}  // namespace
