// quillmar-cli report against the demo line in a lab: every module in the HTML and the CSV
// files, a module whose register port answers nothing listed as not readable (never left
// out), and the page opened by a real browser engine (headless Chromium) without errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/integration_helpers.h"
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
                "--lang", "en", "report", "--all", "-o", out},
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
  EXPECT_EQ(test::CountOccurrences(html, "<g class=\"module"), setup.ModuleCount());  // all drawn
  EXPECT_THAT(html, HasSubstr("not readable"));
  EXPECT_EQ(html.find("http://"), html.find("http://www.w3.org/2000/svg"));  // nothing fetched
  EXPECT_EQ(html.find("https://"), std::string::npos);

  const std::string modules = ReadText(out + "/modules.csv");
  EXPECT_EQ(test::CountOccurrences(modules, "\r\n"), setup.ModuleCount() + 1);
  EXPECT_THAT(modules, HasSubstr(std::to_string(deadSerial) + "," + deadAddress));
  const std::string fields = ReadText(out + "/fields.csv");
  EXPECT_GT(test::CountOccurrences(fields, "\r\n"), 11 * 10u);  // the readable modules' fields
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
  EXPECT_GE(test::CountOccurrences(pdfText, "/Type /Page") +
                test::CountOccurrences(pdfText, "/Type/Page"),
            2u);  // A4 pages
}

// One row of a CSV file, its quoted fields unquoted.
std::vector<std::string> CsvCells(const std::string& row) {
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (size_t i = 0; i < row.size(); ++i) {
    const char c = row[i];
    if (quoted && c == '"' && i + 1 < row.size() && row[i + 1] == '"') {
      cells.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      cells.emplace_back();
    } else {
      cells.back() += c;
    }
  }
  return cells;
}

// modules.csv as serial -> column -> cell.
std::map<std::string, std::map<std::string, std::string>> ModulesBySerial(const std::string& csv) {
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line, '\n');
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::vector<std::string> header = CsvCells(line);
  std::map<std::string, std::map<std::string, std::string>> rows;
  while (std::getline(lines, line, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> cells = CsvCells(line);
    std::map<std::string, std::string> row;
    for (size_t k = 0; k < header.size() && k < cells.size(); ++k) row[header[k]] = cells[k];
    rows[row["serial"]] = row;
  }
  return rows;
}

// The figures are what they claim to be: a module whose discovery record carries no revision
// or position says "unknown"; the PLC program cell tells "none" from "not read"; two modules on
// one address never show the same figures under both serials; the health columns name the
// registers they come from.
TEST(ReportCli, FiguresSayWhatIsUnknownAndWhoseTheyAre) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder folder;
  const std::string lineFile = folder.path() + "/line.json";
  {
    std::ofstream out(lineFile);
    out << R"({"network": "192.168.202.0", "mask": "255.255.255.0", "gateway": "192.168.202.1",
      "chains": [[
        {"serial": 4100001, "node": 1, "firmware": "4.12", "linePosition": 1, "recordLength": 8},
        {"serial": 4100002, "node": 2, "firmware": "4.12", "linePosition": 0, "recordLength": 16},
        {"serial": 4100003, "node": 3, "firmware": "4.12", "linePosition": 0, "recordLength": 20,
         "plc": {"program": "504C43444154415F536F727465720000"}},
        {"serial": 4100004, "node": 4, "firmware": "4.12", "linePosition": 0,
         "faults": {"serviceDead": true}},
        {"serial": 4100005, "node": 5, "firmware": "4.12", "linePosition": 2},
        {"serial": 4100006, "node": 6, "firmware": "4.12", "linePosition": 0,
         "faults": {"sharesAddressOf": 4100005}}
      ]]})";
  }
  test::Lab lab;
  test::Linesim line(lab, lineFile);
  const std::string out = folder.path() + "/report";
  const test::RunResult run =
      lab.Exec("pc",
               {"env", "TMPDIR=" + folder.path(), test::BuiltProgram("apps/quillmar-cli"), "--json",
                "--lang", "en", "report", "--all", "-o", out},
               240000);
  EXPECT_EQ(run.exitCode, 1) << run.err;  // the module behind the shared address
  auto rows = ModulesBySerial(ReadText(out + "/modules.csv"));
  ASSERT_EQ(rows.size(), 6u) << ReadText(out + "/modules.csv");

  // 8 and 16 bytes: no revision, no position byte; 20 bytes carry both.
  for (const char* serial : {"4100001", "4100002"}) {
    EXPECT_EQ(rows[serial]["firmware"], "unknown") << serial;
    EXPECT_EQ(rows[serial]["line_position"], "unknown") << serial;
  }
  EXPECT_EQ(rows["4100003"]["firmware"], "4.12");
  EXPECT_EQ(rows["4100003"]["line_position"], "middle");
  EXPECT_EQ(rows["4100005"]["line_position"], "last");

  // The PLC program: a name, none, or why it could not be read.
  EXPECT_EQ(rows["4100003"]["plc_program"], "PLCDATA_Sorter");
  EXPECT_EQ(rows["4100002"]["plc_program"], "none");
  EXPECT_THAT(rows["4100004"]["plc_program"], HasSubstr("not read"));
  EXPECT_EQ(rows["4100004"]["readable"], "yes");

  // Two modules on 192.168.202.24: the figures read there are one module's, and only that
  // module shows them; the other is named as not readable, with the module that answers.
  const std::string shared5 = rows["4100005"]["readable"];
  const std::string shared6 = rows["4100006"]["readable"];
  EXPECT_NE(shared5, shared6) << "both serials show the same module's figures";
  const std::string& failure =
      shared5 == "no" ? rows["4100005"]["failure"] : rows["4100006"]["failure"];
  EXPECT_THAT(failure, HasSubstr("the address is shared"));
  EXPECT_THAT(failure, HasSubstr(shared5 == "no" ? "4100006" : "4100005"));

  // The health columns say which counters they are.
  const std::string html = ReadText(out + "/report.html");
  EXPECT_THAT(html, HasSubstr("<th>Resets without voltage drop</th>"));
  EXPECT_THAT(html, HasSubstr("<th>Zones with a jam</th>"));
  EXPECT_EQ(html.find("<th>Stopped zones</th>"), std::string::npos);
  EXPECT_TRUE(rows["4100003"].count("resets_without_voltage_drop"));
  EXPECT_TRUE(rows["4100003"].count("jammed_zones"));
}

}  // namespace
