#include "report/report_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "base/format.h"
#include "base/language.h"

namespace report {
namespace {

constexpr int kCellWidth = 170;  // one drawing column
constexpr int kCellHeight = 84;  // one drawing row
constexpr int kBoxWidth = 140;
constexpr int kBoxHeight = 58;
constexpr int kMargin = 16;

bool InTrouble(const ModuleReport& m) {
  return !m.readable || !m.topologyError.empty() ||
         (m.health.motorFaults && *m.health.motorFaults > 0) ||
         (m.health.stoppedZones && *m.health.stoppedZones > 0);
}

std::string Figure(const std::optional<uint16_t>& value) {
  return value ? std::to_string(*value) : "-";
}
std::string Figure(const std::optional<int>& value) {
  return value ? std::to_string(*value) : "-";
}

const char* Arrow(const std::string& direction) {
  if (direction == "Left To Right") return "\u2192";
  if (direction == "Right To Left") return "\u2190";
  return "?";
}

int BoxX(int column) {
  return kMargin + column * kCellWidth;
}
int BoxY(int row) {
  return kMargin + row * kCellHeight;
}

// Two parallel lines, as the topology window draws a cable.
std::string Cable(int x1, int y1, int x2, int y2) {
  std::string svg;
  for (int offset : {-2, 2}) {
    svg += base::Format(
        "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#4a5a6a\" stroke-width=\"1.4\"/>",
        x1, y1 + offset, x2, y2 + offset);
  }
  return svg;
}

bool WriteWhole(const std::string& path, const std::string& text, std::string* error) {
  const std::string temporary = path + ".part";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = base::Format("%s: %s", temporary.c_str(), std::strerror(errno));
    return false;
  }
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = base::Format("%s: %s", temporary.c_str(), std::strerror(errno));
      ::close(fd);
      ::unlink(temporary.c_str());
      return false;
    }
    written += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = base::Format("%s: %s", path.c_str(), std::strerror(errno));
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string EscapeMarkup(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string TopologySvg(const LineReport& line) {
  int rows = 1;
  int columns = 1;
  for (const ModuleReport& m : line.modules) {
    if (m.row < 0) continue;
    rows = std::max(rows, m.row + 1);
    columns = std::max(columns, m.column + 1);
  }
  const int width = 2 * kMargin + (columns - 1) * kCellWidth + kBoxWidth;
  const int height = 2 * kMargin + (rows - 1) * kCellHeight + kBoxHeight;
  std::string svg = base::Format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"topology\" viewBox=\"0 0 %d %d\" "
      "width=\"%d\" height=\"%d\" font-family=\"sans-serif\" font-size=\"11\">",
      width, height, width, height);
  std::map<uint32_t, const ModuleReport*> bySerial;
  for (const ModuleReport& m : line.modules)
    if (m.row >= 0) bySerial[m.serial] = &m;
  // Cables first, so that the boxes lie on top.
  for (const ModuleReport& m : line.modules) {
    if (m.row < 0) continue;
    const int y = BoxY(m.row) + kBoxHeight / 2;
    const auto parent = m.parentSerial ? bySerial.find(*m.parentSerial) : bySerial.end();
    if (parent != bySerial.end()) {
      const ModuleReport& p = *parent->second;
      svg += Cable(BoxX(p.column) + kBoxWidth, BoxY(p.row) + kBoxHeight / 2, BoxX(m.column), y);
    } else if (m.column == 1) {
      svg += Cable(BoxX(0) + kBoxWidth, y, BoxX(1), y);
    }
  }
  // The PC's switch spans every row in column 0.
  svg += base::Format(
      "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" rx=\"6\" fill=\"#dfe8f1\" "
      "stroke=\"#1f4e79\" stroke-width=\"1.5\"/>"
      "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" font-weight=\"bold\">PC Switch</text>",
      BoxX(0), BoxY(0), kBoxWidth, height - 2 * kMargin, BoxX(0) + kBoxWidth / 2,
      BoxY(0) + kBoxHeight / 2 + 4);
  for (const ModuleReport& m : line.modules) {
    if (m.row < 0) continue;
    const int x = BoxX(m.column);
    const int y = BoxY(m.row);
    const bool trouble = InTrouble(m);
    svg += base::Format(
        "<g class=\"module%s\"><rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" rx=\"6\" "
        "fill=\"%s\" stroke=\"%s\" stroke-width=\"1.5\"/>",
        trouble ? " trouble" : "", x, y, kBoxWidth, kBoxHeight, trouble ? "#fde2e0" : "#eef6ea",
        trouble ? "#c0392b" : "#3c763d");
    svg += base::Format(
        "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" font-weight=\"bold\">%s</text>",
        x + kBoxWidth / 2, y + 18, EscapeMarkup(m.ip).c_str());
    svg += base::Format("<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">SN %u</text>",
                        x + kBoxWidth / 2, y + 34, m.serial);
    svg += base::Format(
        "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" font-size=\"15\">%s</text></g>",
        x + kBoxWidth / 2, y + 52, Arrow(m.direction));
  }
  return svg + "</svg>";
}

namespace {

// The report's own texts are English; a report in German shows these instead. Column names
// of the CSV files stay as they are (spreadsheets and scripts read them).
struct GermanWords {
  const char* english;
  const char* german;
};
constexpr GermanWords kGermanWords[] = {
    {"Line report", "Linienbericht"},
    {"Date", "Datum"},
    {"PC adapter", "Netzwerkadapter des PC"},
    {"PC address", "Adresse des PC"},
    {"Modules", "Module"},
    {"%zu found, %zu drawn, %zu not readable", "%zu gefunden, %zu gezeichnet, %zu nicht lesbar"},
    {"Topology", "Topologie"},
    {"Address", "Adresse"},
    {"Serial", "Seriennummer"},
    {"Family", "Familie"},
    {"Firmware", "Firmware"},
    {"Position", "Position"},
    {"Direction", "Richtung"},
    {"Mode", "Modus"},
    {"Upstream", "Vorgelagert"},
    {"Downstream", "Nachgelagert"},
    {"PLC program", "SPS-Programm"},
    {"State", "Zustand"},
    {"read", "gelesen"},
    {"not readable: ", "nicht lesbar: "},
    {"Health", "Zustand der Linie"},
    {"Undervoltage resets", "Resets durch Unterspannung"},
    {"Resets without voltage drop", "Resets ohne Spannungseinbruch"},
    {"Reconnects", "Neuverbindungen"},
    {"Time-outs", "Zeitüberschreitungen"},
    {"Events 24 h", "Ereignisse 24 h"},
    {"Motor faults", "Motorfehler"},
    {"Zones with a jam", "Zonen mit Stau"},
    {"Parameters", "Parameter"},
    {"Field", "Feld"},
    {"Value", "Wert"},
    {"Unit", "Einheit"},
    {"Key", "Schlüssel"},
};

// `english` in the report's language.
const char* Words(base::Language language, const char* english) {
  if (language == base::Language::German) {
    for (const GermanWords& words : kGermanWords) {
      if (std::strcmp(words.english, english) == 0) return words.german;
    }
  }
  return english;
}

}  // namespace

std::string ReportHtml(const LineReport& line, base::Language language) {
  size_t unreadable = 0;
  for (const ModuleReport& m : line.modules) unreadable += m.readable ? 0 : 1;
  const auto words = [language](const char* english) { return Words(language, english); };
  const auto heading = [&](const char* english) {
    return "<th>" + std::string(words(english)) + "</th>";
  };
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"" + std::string(base::LanguageCode(language)) +
      "\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + words("Line report") + " " +
      EscapeMarkup(line.date) +
      "</title>\n<style>\n"
      "@page { size: A4; margin: 14mm; }\n"
      "body { font-family: sans-serif; font-size: 10pt; color: #1b1b1b; margin: 0 auto; "
      "max-width: 190mm; }\n"
      "h1 { font-size: 16pt; color: #1f4e79; margin-bottom: 2mm; }\n"
      "h2 { font-size: 12pt; color: #1f4e79; border-bottom: 1px solid #1f4e79; margin-top: 6mm; }\n"
      "h3 { font-size: 10.5pt; margin: 4mm 0 1mm; }\n"
      "table { border-collapse: collapse; width: 100%; margin-bottom: 3mm; }\n"
      "th, td { border: 1px solid #b8c4d0; padding: 1mm 1.5mm; text-align: left; "
      "vertical-align: top; }\n"
      "th { background: #e8eef4; }\n"
      "tr { page-break-inside: avoid; }\n"
      ".module { page-break-inside: avoid; }\n"
      ".unreadable { color: #c0392b; font-weight: bold; }\n"
      ".topology { max-width: 100%; height: auto; }\n"
      "table.modules { font-size: 8pt; table-layout: fixed; }\n"
      "table.modules td { overflow-wrap: anywhere; }\n"
      "</style>\n</head>\n<body>\n";
  html += "<h1>" + std::string(words("Line report")) + "</h1>\n<table class=\"facts\">\n";
  const auto fact = [&](const char* name, const std::string& value) {
    html += "<tr>" + heading(name) + "<td>" + EscapeMarkup(value) + "</td></tr>\n";
  };
  fact("Date", line.date);
  fact("PC adapter", line.adapterDescription.empty()
                         ? line.adapterName
                         : line.adapterName + " (" + line.adapterDescription + ")");
  fact("PC address", line.adapterIp + " / " + line.adapterMask + ", MAC " + line.adapterMac);
  fact("Modules", base::Format(words("%zu found, %zu drawn, %zu not readable"), line.found,
                               line.drawn, unreadable));
  fact("Topology", line.title + " (" + line.outcome + ")");
  html += "</table>\n<h2>" + std::string(words("Topology")) + "</h2>\n" + TopologySvg(line) + "\n";

  html += "<h2>" + std::string(words("Modules")) + "</h2>\n<table class=\"modules\">\n<tr>";
  for (const char* column : {"Address", "Serial", "Family", "Firmware", "Position", "Direction",
                             "Mode", "Upstream", "Downstream", "PLC program", "State"}) {
    html += heading(column);
  }
  html += "</tr>\n";
  for (const ModuleReport& m : line.modules) {
    html += "<tr><td>" + EscapeMarkup(m.ip) + "</td><td>" + std::to_string(m.serial) + "</td><td>" +
            EscapeMarkup(m.family) + "</td><td>" + EscapeMarkup(m.firmware) + "</td><td>" +
            EscapeMarkup(m.linePosition) + "</td><td>" + EscapeMarkup(m.direction) + "</td><td>" +
            EscapeMarkup(m.mode) + "</td><td>" + EscapeMarkup(m.upstream) + "</td><td>" +
            EscapeMarkup(m.downstream) + "</td><td>" + EscapeMarkup(m.plcProgram) + "</td>";
    html += m.readable ? "<td>" + std::string(words("read")) + "</td>"
                       : "<td class=\"unreadable\">" + std::string(words("not readable: ")) +
                             EscapeMarkup(m.failure) + "</td>";
    html += "</tr>\n";
  }
  html += "</table>\n";

  html += "<h2>" + std::string(words("Health")) + "</h2>\n<table class=\"health\">\n<tr>";
  for (const char* column :
       {"Address", "Undervoltage resets", "Resets without voltage drop", "Reconnects", "Time-outs",
        "Events 24 h", "Motor faults", "Zones with a jam"}) {
    html += heading(column);
  }
  html += "</tr>\n";
  for (const ModuleReport& m : line.modules) {
    const diag::ModuleHealth& h = m.health;
    html += "<tr><td>" + EscapeMarkup(m.ip) + "</td><td>" + Figure(h.undervoltageResets) +
            "</td><td>" + Figure(h.plainResets) + "</td><td>" + Figure(h.reconnects) + "</td><td>" +
            Figure(h.responseTimeouts) + "</td><td>" + Figure(h.recentEvents) + "</td><td>" +
            Figure(h.motorFaults) + "</td><td>" + Figure(h.stoppedZones) + "</td></tr>\n";
  }
  html += "</table>\n<h2>" + std::string(words("Parameters")) + "</h2>\n";
  for (const ModuleReport& m : line.modules) {
    html += "<div class=\"module\"><h3>" + EscapeMarkup(m.ip) + " &middot; SN " +
            std::to_string(m.serial) + "</h3>\n";
    if (!m.readable) {
      html += "<p class=\"unreadable\">" + std::string(words("not readable: ")) +
              EscapeMarkup(m.failure) + "</p></div>\n";
      continue;
    }
    html += "<table class=\"fields\"><tr>" + heading("Field") + heading("Value") + heading("Unit") +
            heading("Key") + "</tr>\n";
    for (const params::ShownField& f : m.fields) {
      // The node screen's labels and list entries are German; an English report shows them in
      // English.
      html += "<tr><td>" + EscapeMarkup(params::ShownLabelIn(f, language)) + "</td><td>" +
              EscapeMarkup(params::ShownValueIn(f, language)) + "</td><td>" + EscapeMarkup(f.unit) +
              "</td><td>" + EscapeMarkup(f.key) + "</td></tr>\n";
    }
    html += "</table></div>\n";
  }
  html += "</body>\n</html>\n";
  return html;
}

std::string ModulesCsv(const LineReport& line) {
  std::string csv =
      "serial,ip,mac,family,firmware,line_position,direction,row,column,readable,failure,mode,"
      "upstream,downstream,plc_program,undervoltage_resets,resets_without_voltage_drop,reconnects,"
      "timeouts,events_24h,motor_faults,jammed_zones,topology_error\r\n";
  for (const ModuleReport& m : line.modules) {
    const diag::ModuleHealth& h = m.health;
    const std::vector<std::string> cells = {std::to_string(m.serial),
                                            m.ip,
                                            m.mac,
                                            m.family,
                                            m.firmware,
                                            m.linePosition,
                                            m.direction,
                                            m.row < 0 ? "" : std::to_string(m.row),
                                            m.column < 0 ? "" : std::to_string(m.column),
                                            m.readable ? "yes" : "no",
                                            m.failure,
                                            m.mode,
                                            m.upstream,
                                            m.downstream,
                                            m.plcProgram,
                                            Figure(h.undervoltageResets),
                                            Figure(h.plainResets),
                                            Figure(h.reconnects),
                                            Figure(h.responseTimeouts),
                                            Figure(h.recentEvents),
                                            Figure(h.motorFaults),
                                            Figure(h.stoppedZones),
                                            m.topologyError};
    for (size_t k = 0; k < cells.size(); ++k) {
      if (k > 0) csv += ',';
      csv += CsvField(cells[k]);
    }
    csv += "\r\n";
  }
  return csv;
}

std::string FieldsCsv(const LineReport& line) {
  std::string csv = "serial,ip,key,label,value,unit\r\n";
  for (const ModuleReport& m : line.modules) {
    for (const params::ShownField& f : m.fields) {
      csv += std::to_string(m.serial) + "," + CsvField(m.ip) + "," + CsvField(f.key) + "," +
             CsvField(f.label) + "," + CsvField(f.value) + "," + CsvField(f.unit) + "\r\n";
    }
  }
  return csv;
}

bool WriteReport(const LineReport& line, const std::string& folder, std::string* error,
                 base::Language language) {
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = base::Format("%s: %s", folder.c_str(), std::strerror(errno));
    return false;
  }
  return WriteWhole(folder + "/report.html", ReportHtml(line, language), error) &&
         WriteWhole(folder + "/modules.csv", ModulesCsv(line), error) &&
         WriteWhole(folder + "/fields.csv", FieldsCsv(line), error);
}

}  // namespace report
