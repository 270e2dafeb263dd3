#pragma once
// The hand-over report's files: one self-contained HTML page (styles and the topology drawing
// inline, nothing fetched, readable printed on A4) and CSV files for spreadsheets.
#include <string>

#include "base/language.h"
#include "report/line_report.h"

namespace report {

// The topology drawing as SVG: the PC's switch, the modules at their rows and columns with
// address, serial and direction, the double connection lines; modules in trouble in red.
std::string TopologySvg(const LineReport& line);
// The page in `language` (its own texts, and the fields' labels); the CSV files are the same
// in both languages.
std::string ReportHtml(const LineReport& line, base::Language language = base::Language::English);
// One row per module: identity, connections, PLC program, health, readable or why not.
std::string ModulesCsv(const LineReport& line);
// One row per module and node screen field: serial, address, key, label, value, unit.
std::string FieldsCsv(const LineReport& line);

// Writes report.html, modules.csv and fields.csv into `folder` (made when missing). Each file
// is written whole or not at all; false with `*error` set when a file could not be written.
bool WriteReport(const LineReport& line, const std::string& folder, std::string* error,
                 base::Language language = base::Language::English);

// Text made safe for HTML and SVG; a CSV field quoted when it must be.
std::string EscapeMarkup(const std::string& text);
std::string CsvField(const std::string& text);

}  // namespace report
