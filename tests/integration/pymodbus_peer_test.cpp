// The register client against a Modbus server none of us wrote: Debian's python3-pymodbus,
// run by /usr/bin/python3 as a stand-in module in the lab's line namespace.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "comm/blocking_socket.h"
#include "fixtures/lab.h"
#include "params/register_map.h"

namespace {

using nlohmann::json;

constexpr const char* kPeerAddress = "192.168.202.50";

std::string PeerUnavailableReason() {
  const test::RunResult check =
      test::RunProgram({"/usr/bin/python3", "-c", "import pymodbus, serial_asyncio"});
  if (check.exitCode != 0) return "python3-pymodbus or python3-serial-asyncio is not installed";
  return {};
}

TEST(PymodbusPeer, ClientReadsAndWritesAForeignModbusServer) {
  QM_SKIP_WITHOUT_LAB();
  const std::string reason = PeerUnavailableReason();
  if (!reason.empty()) GTEST_SKIP() << reason;
  test::Lab lab;
  ASSERT_EQ(lab.Exec("line", {"ip", "addr", "add", std::string(kPeerAddress) + "/24", "dev",
                              lab.LineInterface()})
                .exitCode,
            0);
  test::BackgroundProcess peer =
      lab.Start("line", {"/usr/bin/python3", test::SourceFile("tests/integration/pymodbus_peer.py"),
                         "--address", kPeerAddress});
  ASSERT_TRUE(peer.WaitForOutput("ready", 20000)) << peer.Stderr();

  const auto report = lab.RunInNamespaceForText("pc", [&]() -> std::string {
    json result;
    CBlockingSocket client;
    result["connect"] = client._Connect(kPeerAddress, 502, false);

    uint16_t words[25] = {};
    result["read"] = client.ReadMultiplyRegisters(40, 25, words);
    std::vector<int> values;
    for (uint16_t w : words) values.push_back(ntohs(w));
    result["values"] = values;

    uint16_t first[2] = {0, 0xEEEE};
    result["readOne"] = client.ReadMultiplyRegisters(1, 1, first);  // asks for 1 and 2
    result["register1"] = ntohs(first[0]);
    result["guard"] = first[1];

    result["writeSingle"] = client.WriteRegister(48, 1);
    const uint16_t block[3] = {htons(7), htons(8), htons(9)};
    result["writeMultiple"] = client.WriteMultipleRegisters(300, 3, block);
    params::ClientRegisterAccess access(client);
    params::RegisterMap map(access);
    result["blockRead"] = map.ReadBlock(298, 6);
    std::vector<int> after;
    for (int reg = 298; reg < 304; ++reg) after.push_back(map.image().Get(reg));
    result["after"] = after;
    const auto single = map.ReadOne(48);
    result["register48"] = single.value_or(0xFFFF);

    try {
      uint16_t out[2] = {};
      client.ReadMultiplyRegisters(1001, 2, out);  // beyond the server's block
      result["exception"] = "none";
    } catch (const CBlockingSocketException& e) {
      result["exception"] = e.Text();
      result["exceptionNumber"] = e.Number();
    }
    result["stillOpen"] = client.IsOpen();
    return result.dump();
  });
  ASSERT_TRUE(report.has_value());
  const json result = json::parse(*report);
  EXPECT_EQ(result["connect"], 1);
  EXPECT_EQ(result["read"], 1);
  std::vector<int> expected;
  for (int reg = 40; reg < 65; ++reg) expected.push_back(1000 + reg);
  EXPECT_EQ(result["values"].get<std::vector<int>>(), expected);
  EXPECT_EQ(result["readOne"], 1);
  EXPECT_EQ(result["register1"], 1001);
  EXPECT_EQ(result["guard"], 0xEEEE);
  EXPECT_EQ(result["writeSingle"], 1);
  EXPECT_EQ(result["writeMultiple"], 1);
  EXPECT_EQ(result["blockRead"], true);
  EXPECT_EQ(result["after"].get<std::vector<int>>(), (std::vector<int>{1298, 1299, 7, 8, 9, 1303}));
  EXPECT_EQ(result["register48"], 1);
  const std::string exception = result["exception"].get<std::string>();
  EXPECT_NE(exception.find("startAddr:#1000)"), std::string::npos) << exception;
  EXPECT_NE(exception.find("Responce: (func:#0x83,len:#3,errCode:#0x2)"), std::string::npos)
      << exception;
  EXPECT_EQ(result["exceptionNumber"], 1);
  EXPECT_EQ(result["stillOpen"], true);
}

}  // namespace
