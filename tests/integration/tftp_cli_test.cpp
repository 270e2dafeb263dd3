// quillmar-cli tftp and plc against linesim modules inside a lab: a PLC program uploaded, read
// back by name and by download, locked and deleted; a program for another family refused; a
// firmware image of 377,512 bytes that arrives intact over a link losing 5 % of its frames.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/program_bytes.h"
#include "fixtures/temp_log.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

constexpr uint32_t kUxModule = 4100;  // node 1, family 0x09, device-type code 0x900
constexpr uint32_t kIoModule = 4101;  // node 2, family 0x0C, device-type code 0xC00

// The content hash linesim reports for a module's files (FNV-1a, 64 bit).
std::string Hash(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001b3ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}
using test::WithCrc;
// A PLC program of `length` bytes for `family`, carrying its own name near the end.
std::vector<uint8_t> Program(size_t length, const std::string& family, const std::string& name) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
  std::fill(bytes.begin() + 24, bytes.begin() + 44, 0);
  std::copy(family.begin(), family.end(), bytes.begin() + 24);
  std::copy(name.begin(), name.end(), bytes.end() - static_cast<long>(name.size()) - 1);
  bytes.back() = 0;
  return bytes;
}

class TftpCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string description = R"({"network": "192.168.202.0", "chains": [[
        {"serial": 4100, "node": 1, "family": "0x09", "firmware": "4.14",
         "registers": {"6": "0x0900"}},
        {"serial": 4101, "node": 2, "family": "0x0C", "registers": {"6": "0x0C00"}}]]})";
    lineFile_ = folder_.path() + "line.json";
    test::WriteBytes(lineFile_, std::vector<uint8_t>(description.begin(), description.end()));
  }
  test::RunResult Cli(const test::Lab& lab, const std::vector<std::string>& args,
                      uint32_t timeoutMs = 60000) {
    std::vector<std::string> argv{test::BuiltProgram("apps/quillmar-cli")};
    argv.insert(argv.end(), args.begin(), args.end());
    return lab.Exec("pc", argv, timeoutMs);
  }
  static json Files(const test::Linesim& line, uint32_t serial) {
    return line.Ok({{"cmd", "files"}, {"module", serial}})["files"];
  }

  fixtures::TempFolder folder_;
  std::string lineFile_;
};

TEST_F(TftpCli, PlcProgramUploadedNamedDownloadedLockedAndDeleted) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, lineFile_);
  const std::vector<uint8_t> program = Program(1000, "BrevantrixUx", "PLCDATA_Line7.bin");
  const std::string path = test::WriteBytes(folder_.path() + "PLCDATA_Line7.bin", program);

  const auto upload = Cli(lab, {"plc", "upload", "192.168.202.20", path});
  ASSERT_EQ(upload.exitCode, 0) << upload.out << upload.err;
  EXPECT_THAT(upload.out, HasSubstr("Uploading PLCDATA_Line7.bin to 192.168.202.20 (1002 of "
                                    "1002)... FTP upload OK."));
  EXPECT_EQ(Files(line, kUxModule)["plcLength"], 1002);
  EXPECT_EQ(Files(line, kUxModule)["plcHash"], Hash(WithCrc(program)));

  const auto name = Cli(lab, {"plc", "name", "1", "--net", "192.168.202.0"});
  ASSERT_EQ(name.exitCode, 0) << name.err;
  EXPECT_EQ(name.out, "PLCDATA_Line7.bin\n");

  const std::string back = folder_.path() + "back.bin";
  const auto get = Cli(lab, {"tftp", "get", "192.168.202.20", "PlcData_.bin", back, "--json"});
  ASSERT_EQ(get.exitCode, 0) << get.err;
  EXPECT_EQ(test::ReadBytes(back), WithCrc(program));
  const json got = json::parse(get.out);
  EXPECT_EQ(got["bytes"], 1002);
  EXPECT_TRUE(got["counters"].contains("retransmissions"));

  // A program for this family is refused on the I/O module, which keeps nothing.
  const auto refused = Cli(lab, {"--yes", "plc", "upload", "192.168.202.21", path});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_THAT(refused.out + refused.err,
              HasSubstr("The selected PLC program is for BrevantrixUx devices, but the device is "
                        "not compatible with it!"));
  EXPECT_EQ(Files(line, kIoModule)["plcLength"], 0);

  for (const auto& [state, value] : {std::pair{"on", 1}, std::pair{"off", 0}}) {
    const auto lock = Cli(lab, {"plc", "lock", "192.168.202.20", state});
    ASSERT_EQ(lock.exitCode, 0) << lock.out << lock.err;
    EXPECT_EQ(lock.out, std::string("PLC lock of 192.168.202.20: ") + state + "\n");
    EXPECT_EQ(Files(line, kUxModule)["plcLock"], value);
  }
  EXPECT_EQ(Files(line, kIoModule)["lockRequests"], 0);

  const auto remove = Cli(lab, {"plc", "delete", "192.168.202.20"});
  ASSERT_EQ(remove.exitCode, 0) << remove.err;
  EXPECT_EQ(Files(line, kUxModule)["plcLength"], 0);
  EXPECT_EQ(Cli(lab, {"plc", "name", "192.168.202.20"}).out, "(no PLC program name)\n");
}

TEST_F(TftpCli, ImageOf377512BytesArrivesIntactOverALossyLink) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, lineFile_);
  std::vector<uint8_t> image(377512);
  uint32_t state = 12345;
  for (uint8_t& byte : image) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  const std::string path = test::WriteBytes(folder_.path() + "BrevantrixUX_4_18.bin", image);
  lab.Impair(1, 5, 0);
  const auto put = Cli(lab, {"tftp", "put", "sn:4100", path, "--json"}, 180000);
  ASSERT_EQ(put.exitCode, 0) << put.out << put.err;
  const json out = json::parse(put.out);
  EXPECT_EQ(out["bytes"], 377514);
  EXPECT_EQ(out["module"], "192.168.202.20");
  EXPECT_GT(out["counters"]["retransmissions"].get<int>(), 0);  // the loss was there
  const json staged = Files(line, kUxModule)["staged"];
  ASSERT_FALSE(staged.is_null());
  EXPECT_EQ(staged["name"], "BrevantrixUX_4_18.bin");
  EXPECT_EQ(staged["length"], 377512);
  EXPECT_EQ(staged["hash"], Hash(image));
}

TEST_F(TftpCli, ModuleDyingMidTransferIsReportedWithTheCounters) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, lineFile_);
  const std::string path =
      test::WriteBytes(folder_.path() + "image.bin", std::vector<uint8_t>(5000, 1));
  line.SetFault(kUxModule, {{"tftpDie", 4}});
  const auto put = Cli(lab, {"tftp", "put", "192.168.202.20", path});
  EXPECT_EQ(put.exitCode, 1);
  EXPECT_THAT(put.err, HasSubstr("put to 192.168.202.20 failed: No answer. (time-outs "));
  EXPECT_THAT(put.err, HasSubstr("retransmissions 25,"));
  EXPECT_TRUE(Files(line, kUxModule)["staged"].is_null());
}

}  // namespace
