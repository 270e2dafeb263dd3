// Interoperability with Debian's TFTP programs inside a lab: quillmar-cli's tftp put and get
// against tftpd-hpa (run only in the lab's line namespace, on a lab address, with options
// refused as the modules do), and the tftp-hpa client against linesim's TFTP server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "sim/tftp_server.h"

namespace {

using ::testing::HasSubstr;

constexpr const char* kServerAddress = "192.168.202.30";
constexpr const char* kTftpd = "/usr/sbin/in.tftpd";
constexpr const char* kTftp = "/usr/bin/tftp";

std::vector<uint8_t> PatternBytes(size_t length, uint8_t salt) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 29 + salt);
  return bytes;
}
// The data with its CRC-16/MODBUS, low byte first (linesim's own computation, not ours).
std::vector<uint8_t> WithLinesimCrc(std::vector<uint8_t> data) {
  const uint16_t crc = sim::tftp::Crc16Modbus(data.data(), data.size());
  data.push_back(static_cast<uint8_t>(crc));
  data.push_back(static_cast<uint8_t>(crc >> 8));
  return data;
}

#define QM_SKIP_WITHOUT_DEBIAN_TFTP()                                                       \
  do {                                                                                      \
    if (access(kTftpd, X_OK) != 0 || access(kTftp, X_OK) != 0)                              \
      GTEST_SKIP() << "tftpd-hpa / tftp-hpa are not installed (./run setup installs them)"; \
  } while (0)

TEST(TftpInterop, OurPutAndGetAgainstTftpdHpa) {
  QM_SKIP_WITHOUT_LAB();
  QM_SKIP_WITHOUT_DEBIAN_TFTP();
  test::Lab lab;
  fixtures::TempFolder folder;
  const std::string root = folder.path() + "srv";
  ASSERT_EQ(mkdir(root.c_str(), 0777), 0);
  chmod(root.c_str(), 0777);
  const auto address = lab.Exec("line", {"ip", "addr", "add", std::string(kServerAddress) + "/24",
                                         "dev", lab.LineInterface()});
  ASSERT_EQ(address.exitCode, 0) << address.err;
  // Foreground, on the lab address only; tsize refused, so that it answers without an OACK as
  // the modules do.
  test::BackgroundProcess server =
      lab.Start("line", {kTftpd, "-L", "-a", std::string(kServerAddress) + ":69", "-s", root, "-c",
                         "-p", "-r", "tsize", "-u", "root"});
  const std::vector<uint8_t> download = PatternBytes(1500, 3);
  const std::vector<uint8_t> twoBlocks = PatternBytes(1024, 5);  // ends on an empty block
  test::WriteBytes(root + "/down.bin", download);
  test::WriteBytes(root + "/two.bin", twoBlocks);
  chmod((root + "/down.bin").c_str(), 0644);
  chmod((root + "/two.bin").c_str(), 0644);
  ASSERT_TRUE(test::Linesim::WaitUntil(
      [&] {
        return test::RunCli(
                   lab, {"tftp", "get", kServerAddress, "down.bin", folder.path() + "probe.bin"})
                   .exitCode == 0;
      },
      5000))
      << "tftpd-hpa did not answer: " << server.Stderr();

  const std::vector<uint8_t> upload = PatternBytes(2000, 9);
  test::WriteBytes(folder.path() + "up.bin", upload);
  const auto put =
      test::RunCli(lab, {"tftp", "put", kServerAddress, folder.path() + "up.bin", "up.bin"});
  ASSERT_EQ(put.exitCode, 0) << put.out << put.err;
  EXPECT_EQ(test::ReadBytes(root + "/up.bin"), WithLinesimCrc(upload));

  for (const auto& [name, content] :
       {std::pair{"down.bin", download}, std::pair{"two.bin", twoBlocks}}) {
    const std::string local = folder.path() + "got-" + name;
    const auto get = test::RunCli(lab, {"tftp", "get", kServerAddress, name, local});
    ASSERT_EQ(get.exitCode, 0) << name << ": " << get.err;
    EXPECT_EQ(test::ReadBytes(local), content) << name;
  }
  const auto missing =
      test::RunCli(lab, {"tftp", "get", kServerAddress, "none.bin", folder.path() + "x"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_FALSE(std::ifstream(folder.path() + "x").good());
}

TEST(TftpInterop, TftpHpaClientAgainstLinesim) {
  QM_SKIP_WITHOUT_LAB();
  QM_SKIP_WITHOUT_DEBIAN_TFTP();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  fixtures::TempFolder folder;
  const std::vector<uint8_t> program = PatternBytes(1500, 11);
  test::WriteBytes(folder.path() + "program.bin", WithLinesimCrc(program));
  const auto put = lab.Exec("pc", {kTftp, "-m", "binary", "192.168.202.20", "-c", "put",
                                   folder.path() + "program.bin", "PlcData_.bin"});
  ASSERT_EQ(put.exitCode, 0) << put.out << put.err;
  const auto files = line.Ok({{"cmd", "files"}, {"module", "192.168.202.20"}})["files"];
  EXPECT_EQ(files["plcLength"], 1502);  // kept with its check bytes

  const std::string back = folder.path() + "back.bin";
  const auto get =
      lab.Exec("pc", {kTftp, "-m", "binary", "192.168.202.20", "-c", "get", "PlcData_.bin", back});
  ASSERT_EQ(get.exitCode, 0) << get.out << get.err;
  EXPECT_EQ(test::ReadBytes(back), WithLinesimCrc(program));

  // A file without a valid check value is refused with ERROR 0 and changes nothing.
  test::WriteBytes(folder.path() + "plain.bin", PatternBytes(700, 1));
  const auto bad = lab.Exec("pc", {kTftp, "-m", "binary", "192.168.202.20", "-c", "put",
                                   folder.path() + "plain.bin", "PlcData_.bin"});
  EXPECT_THAT(bad.out + bad.err, HasSubstr("Checksum error"));
  EXPECT_EQ(line.Ok({{"cmd", "files"}, {"module", "192.168.202.20"}})["files"]["plcLength"], 1502);
}

}  // namespace
