// quillmar-cli report against the demo line in a lab: every module in the HTML and the CSV
// files, a module whose register port answers nothing listed as not readable (never left
// out), and the page opened by a real browser engine (headless Chromium) without errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "sim/line.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

std::string Browser() {
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (access(path, X_OK) == 0) return path;
  return "";
}

TEST(ReportCli, EveryModuleIsReportedAndAnUnreadableOneSaysSo) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder folder;
  test::Lab lab;
  const std::string demo = test::SourceFile("sim/lines/demo.json");
  test::Linesim line(lab, demo);
  const sim::LineSetup setup = sim::LoadLineFile(demo);
  const uint32_t deadSerial = setup.chains[0][2].serial;
  // Found by the discovery, but its register port answers nothing.
  line.SetFault(deadSerial, {{"drop", 1}, {"discovery", false}});

  const std::string out = folder.path() + "/report";
  const test::RunResult run =
      lab.Exec("pc",
               {"env", "TMPDIR=" + folder.path(), test::BuiltProgram("apps/quillmar-cli"), "--json",
                "report", "--all", "-o", out},
               240000);
  EXPECT_EQ(run.exitCode, 1) << run.err;  // one module was not readable
  const json summary = json::parse(run.out);
  EXPECT_TRUE(summary["written"].get<bool>());
  ASSERT_EQ(summary["modules"].size(), setup.ModuleCount());
  const std::string deadAddress = line.Module(deadSerial).address;
  for (const json& m : summary["modules"]) {
    SCOPED_TRACE(m.dump());
    EXPECT_EQ(m["ok"].get<bool>(), m["module"] != deadAddress);
  }
  EXPECT_THAT(run.err, HasSubstr(deadAddress));

  const std::string html = ReadText(out + "/report.html");
  for (const auto& chain : setup.chains) {
    for (const auto& module : chain) {
      EXPECT_THAT(html, HasSubstr("SN " + std::to_string(module.serial))) << module.serial;
    }
  }
  EXPECT_EQ(Count(html, "<g class=\"module"), setup.ModuleCount());  // all drawn
  EXPECT_THAT(html, HasSubstr("not readable"));
  EXPECT_EQ(html.find("http://"), html.find("http://www.w3.org/2000/svg"));  // nothing fetched
  EXPECT_EQ(html.find("https://"), std::string::npos);

  const std::string modules = ReadText(out + "/modules.csv");
  EXPECT_EQ(Count(modules, "\r\n"), setup.ModuleCount() + 1);
  EXPECT_THAT(modules, HasSubstr(std::to_string(deadSerial) + "," + deadAddress));
  const std::string fields = ReadText(out + "/fields.csv");
  EXPECT_GT(Count(fields, "\r\n"), 11 * 10u);  // the readable modules' fields
  EXPECT_EQ(fields.find(std::to_string(deadSerial) + ","), std::string::npos);

  // A real browser engine renders it to PDF without complaint.
  const std::string browser = Browser();
  if (browser.empty()) GTEST_SKIP() << "no headless browser installed";
  const std::string pdf = folder.path() + "/report.pdf";
  const test::RunResult rendered = lab.Exec(
      "pc",
      {"env", "HOME=" + folder.path(), browser, "--headless", "--no-sandbox", "--disable-gpu",
       "--no-first-run", "--user-data-dir=" + folder.path() + "/browser", "--print-to-pdf=" + pdf,
       "--no-pdf-header-footer", "file://" + out + "/report.html"},
      120000);
  ASSERT_EQ(rendered.exitCode, 0) << rendered.err;
  const std::string pdfText = ReadText(pdf);
  ASSERT_GT(pdfText.size(), 1000u);
  EXPECT_EQ(pdfText.rfind("%PDF", 0), 0u);
  EXPECT_GE(Count(pdfText, "/Type /Page") + Count(pdfText, "/Type/Page"), 2u);  // A4 pages
}

}  // namespace
