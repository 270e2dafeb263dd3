// The hand-over report's files from a small line of three modules, one of them not readable:
// every module present, the unreadable one said so and drawn red, CSV quoting, markup escaped;
// and the helpers that name connections, positions and modes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fixtures/temp_log.h"
#include "report/report_writer.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

report::ModuleReport Module(uint32_t serial, const std::string& ip, int column, bool readable) {
  report::ModuleReport m;
  m.serial = serial;
  m.ip = ip;
  m.row = 0;
  m.column = column;
  m.direction = "Left To Right";
  m.readable = readable;
  if (!readable) m.failure = "no connection";
  if (readable) m.fields.push_back({"speed.left", 1, "left", "Geschwindigkeit:", "0.50", "m/s"});
  m.health.address = ip;
  return m;
}

report::LineReport SmallLine() {
  report::LineReport line;
  line.date = "2026-12-10 12:00:00";
  line.adapterName = "q-p1";
  line.found = line.drawn = 3;
  line.modules = {Module(11, "192.168.202.20", 1, true), Module(12, "192.168.202.21", 2, false),
                  Module(13, "192.168.202.22", 3, true)};
  line.modules[1].parentSerial = 11;
  line.modules[2].parentSerial = 12;
  line.modules[2].fields[0].label = "Name <\"A&B\">";
  return line;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(ReportWriter, EveryModuleIsInTheHtmlAndTheUnreadableOneSaysSo) {
  const std::string html = report::ReportHtml(SmallLine());
  for (const char* serial : {"SN 11", "SN 12", "SN 13"}) EXPECT_THAT(html, HasSubstr(serial));
  EXPECT_THAT(html, HasSubstr("not readable: no connection"));
  EXPECT_THAT(html, HasSubstr("@page { size: A4"));
  EXPECT_THAT(html, HasSubstr("Name &lt;&quot;A&amp;B&quot;&gt;"));
  EXPECT_THAT(html, Not(HasSubstr("<\"A&B\">")));
  // Three modules drawn, the unreadable one in trouble, two cables between them and one from
  // the PC's switch.
  const std::string svg = report::TopologySvg(SmallLine());
  EXPECT_EQ(Count(svg, "<g class=\"module"), 3u);
  EXPECT_EQ(Count(svg, "<g class=\"module trouble\""), 1u);
  EXPECT_EQ(Count(svg, "<line "), 2u * 3u);
}

TEST(ReportWriter, CsvFilesHoldOneRowPerModuleAndPerField) {
  const report::LineReport line = SmallLine();
  const std::string modules = report::ModulesCsv(line);
  EXPECT_EQ(Count(modules, "\r\n"), 4u);
  EXPECT_THAT(modules, HasSubstr("12,192.168.202.21,,,,,Left To Right,0,2,no,no connection"));
  const std::string fields = report::FieldsCsv(line);
  EXPECT_EQ(Count(fields, "\r\n"), 3u);  // header and the two readable modules' field
  EXPECT_THAT(fields, HasSubstr("13,192.168.202.22,speed.left,\"Name <\"\"A&B\"\">\",0.50,m/s"));
}

// The health columns are named for what they count: register 265 counts resets without a
// voltage drop (not every reset), and 108/188 are the zones' jam words.
TEST(ReportWriter, HealthColumnsNameTheirRegisters) {
  const report::LineReport line = SmallLine();
  const std::string html = report::ReportHtml(line);
  EXPECT_THAT(html, HasSubstr("<th>Resets without voltage drop</th>"));
  EXPECT_THAT(html, HasSubstr("<th>Zones with a jam</th>"));
  EXPECT_THAT(html, Not(HasSubstr("<th>Resets</th>")));
  EXPECT_THAT(html, Not(HasSubstr("Stopped zones")));
  const std::string csv = report::ModulesCsv(line);
  EXPECT_THAT(csv, HasSubstr(",undervoltage_resets,resets_without_voltage_drop,reconnects,"));
  EXPECT_THAT(csv, HasSubstr(",motor_faults,jammed_zones,topology_error\r\n"));
}

TEST(ReportWriter, FilesAreWrittenWholeOrTheFailureIsSaid) {
  fixtures::TempFolder folder;
  std::string error;
  const std::string out = folder.path() + "/report";
  ASSERT_TRUE(report::WriteReport(SmallLine(), out, &error)) << error;
  for (const char* name : {"report.html", "modules.csv", "fields.csv"}) {
    EXPECT_TRUE(std::filesystem::exists(out + "/" + name)) << name;
    EXPECT_FALSE(std::filesystem::exists(out + "/" + name + ".part")) << name;
  }
  // A folder under a file cannot be made.
  std::ofstream(folder.path() + "/plain") << "x";
  EXPECT_FALSE(report::WriteReport(SmallLine(), folder.path() + "/plain/report", &error));
  EXPECT_THAT(error, HasSubstr("plain/report"));
}

TEST(ReportWriter, HelpersNameConnectionsPositionsAndModes) {
  const uint16_t linked[8] = {0xC0A8, 0xCA15, 1, 116, 243, 7, 1, 0};
  const uint16_t empty[8] = {};
  EXPECT_EQ(report::LinkedAddress(linked), "192.168.202.21");
  EXPECT_EQ(report::LinkedAddress(empty), "");
  const std::vector<std::pair<uint8_t, const char*>> positions = {{0x01, "first"},
                                                                  {0x02, "last"},
                                                                  {0x03, "first and last"},
                                                                  {0x00, "middle"},
                                                                  {0xFF, "unknown"}};
  for (const auto& [byte, text] : positions) EXPECT_EQ(report::LinePositionText(byte), text);
  const std::vector<std::pair<uint16_t, const char*>> modes = {{0, "normal"},
                                                               {1, "slave"},
                                                               {2, "PLC I/O"},
                                                               {4, "accumulation control (4)"},
                                                               {5, "hardware controlled"},
                                                               {9, "pallet"},
                                                               {8, "mode 8"}};
  for (const auto& [value, text] : modes) EXPECT_EQ(report::ModeName(value), text);
  EXPECT_EQ(report::CsvField("plain"), "plain");
  EXPECT_EQ(report::CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(report::CsvField("say \"x\""), "\"say \"\"x\"\"\"");
}

}  // namespace

namespace {

// The page follows the language chosen: its own texts and the fields' labels; the CSV files
// are the same in both languages.
TEST(ReportWriter, PageFollowsTheLanguage) {
  const report::LineReport line = SmallLine();
  struct Case {
    base::Language language;
    std::vector<std::string> present, absent;
  };
  const Case cases[] = {
      {base::Language::German,
       {"<html lang=\"de\">", "<h1>Linienbericht</h1>", "<th>Resets ohne Spannungseinbruch</th>",
        "nicht lesbar: no connection", "<td>gelesen</td>",
        "3 gefunden, 3 gezeichnet, 1 nicht lesbar", "<td>Geschwindigkeit:</td>"},
       {"Line report", "not readable", "<th>Zones with a jam</th>", "<td>Speed:</td>"}},
      {base::Language::English,
       {"<html lang=\"en\">", "<h1>Line report</h1>", "<th>Resets without voltage drop</th>",
        "not readable: no connection", "<td>read</td>", "3 found, 3 drawn, 1 not readable",
        "<td>Speed:</td>"},
       {"Linienbericht", "nicht lesbar", "<td>Geschwindigkeit:</td>"}},
  };
  for (const Case& c : cases) {
    const std::string html = report::ReportHtml(line, c.language);
    for (const std::string& text : c.present) {
      EXPECT_THAT(html, HasSubstr(text)) << base::LanguageCode(c.language);
    }
    for (const std::string& text : c.absent) {
      EXPECT_THAT(html, Not(HasSubstr(text))) << base::LanguageCode(c.language);
    }
  }
  // An unknown label stays as it is, escaped, in either language.
  EXPECT_THAT(report::ReportHtml(line, base::Language::German),
              HasSubstr("Name &lt;&quot;A&amp;B&quot;&gt;"));
}

}  // namespace
