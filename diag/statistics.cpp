#include "diag/statistics.h"

#include <locale.h>

#include <array>
#include <charconv>

#include "base/format.h"

namespace diag {

namespace {

constexpr char kLineEnd[] = "\r\n";

// Module families whose register 275 holds one flag per reset source.
bool HasResetFlags(uint16_t hardware) {
  switch (hardware >> 8) {
    case 0x03:
    case 0x05:
    case 0x06:
    case 0x09:
    case 0x0C:
      return true;
    default:
      return false;
  }
}

// The unsigned decimal number right after `marker`, nullopt when the marker or the digits are
// missing; more digits than 32 bits hold are not a number either.
std::optional<uint32_t> NumberAfter(std::string_view answer, std::string_view marker) {
  const size_t at = answer.find(marker);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view rest = answer.substr(at + marker.size());
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (error != std::errc() || end == rest.data()) return std::nullopt;
  return value;
}

std::string TimeText(const char* format, const std::tm& localTime) {
  // English month names whatever the user's locale.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  char text[96] = {0};
  const size_t length = strftime_l(text, sizeof text, format, &localTime, cLocale);
  return std::string(text, length);
}

}  // namespace

std::string LastResetText(uint16_t reason, uint16_t hardware) {
  if (!HasResetFlags(hardware)) {
    static constexpr std::array<const char*, 8> kSources = {"Spannungsabschaltung Reset",
                                                            "",
                                                            "Watchdog Reset",
                                                            "Software Reset",
                                                            "Benutzer Reset",
                                                            "Brownout Reset",
                                                            "",
                                                            ""};
    return kSources[reason >> 8 & 7];
  }
  std::string text;
  if (reason & 0x0001) text += "JTAC Reset,";
  if (reason & 0x0002) text += "LockUp Core Reset,";
  if (reason & 0x0004) text += "Software Reset,";
  if (reason & 0x0008) text += "MDM-AP System Reset Request,";
  if (reason & 0x0010) text += "EzPort Reset,";
  if (hardware & 0x0020) text += "Stop mode Ack Error Reset,";
  if (reason & 0x0100) text = "Low Leakage WakeUp Reset,";
  if (reason & 0x0200) text += "Low Voltage Detect Reset,";
  if (reason & 0x0400) text += "Loss of Clock Reset,";
  if (reason & 0x0800) text += "Loss of Lock Reset,";
  if (reason & 0x2000) text += "Watchdog Reset,";
  if (reason & 0x4000) text += "Benutzer Reset,";
  if (reason & 0x8000) text = "Spannungsabschaltung Reset,";
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, ", ") == 0) text.resize(text.size() - 2);
  return text;
}

FlashSaveCounters ParseFlashSaveCounters(std::string_view answer) {
  return {.numSavedL = NumberAfter(answer, "numSavedL: "),
          .numSavedH = NumberAfter(answer, "numSavedH: "),
          .validCrcL = NumberAfter(answer, "bValidCRC_L: "),
          .validCrcH = NumberAfter(answer, "bValidCRC_H: ")};
}

std::optional<CpuLoad> ParseCpuLoad(std::string_view answer) {
  constexpr size_t kHeader = 11;
  constexpr size_t kTrailer = 2;
  if (answer.size() < kHeader + kTrailer) return std::nullopt;
  const std::string_view samples = answer.substr(kHeader, answer.size() - kHeader - kTrailer);
  CpuLoad load;
  int sum = 0;
  for (size_t at = 0; at + 2 <= samples.size(); at += 3) {
    const char high = samples[at];
    const char low = samples[at + 1];
    if (high < '0' || high > '9' || low < '0' || low > '9') return std::nullopt;
    const int value = (high - '0') * 10 + (low - '0');
    if (value < load.minimum) load.minimum = value;
    if (value > load.maximum) load.maximum = value;
    sum += value;
    ++load.samples;
  }
  if (load.samples == 0) return std::nullopt;
  load.average = static_cast<double>(sum) / load.samples;
  return load;
}

std::string AverageText(double average) {
  return base::Format("%.2f", average);
}

std::string ParseFreeMemory(std::string_view answer) {
  const size_t colon = answer.find(": ");
  if (colon == std::string_view::npos) return kNotRead;
  const size_t from = colon + 2;
  const size_t end = answer.find(" Bytes Free", from);
  if (end == std::string_view::npos) return kNotRead;
  return std::string(answer.substr(from, end - from));
}

std::string ParseFirmwareRevision(std::string_view answer) {
  return std::string(answer);
}

std::string ParseListAnswer(std::string_view answer) {
  return answer.size() > 2 ? std::string(answer.substr(2)) : std::string();
}

std::string StatisticsText(const ModuleStatistics& s) {
  std::string text = "IP Address: " + s.address + kLineEnd;
  // A counter that could not be read shows "---" in place of its number.
  if (s.undervoltageResets) {
    text +=
        base::Format("Reset Counter after Voltage < 18V: %d%s", *s.undervoltageResets, kLineEnd);
  } else {
    text += base::Format("Reset Counter after Voltage < 18V: %s%s", kNotRead, kLineEnd);
  }
  if (s.plainResets) {
    text += base::Format("Reset Counter without Voltage Drop: %d%s", *s.plainResets, kLineEnd);
  } else {
    text += base::Format("Reset Counter without Voltage Drop: %s%s", kNotRead, kLineEnd);
  }
  text += base::Format("Last Reset Type: %s%s", s.lastReset ? s.lastReset->c_str() : kNotRead,
                       kLineEnd);
  if (s.reconnects) {
    text += base::Format("Reconnect Counter: %d%s", *s.reconnects, kLineEnd);
  } else {
    text += base::Format("Reconnect Counter: %s%s", kNotRead, kLineEnd);
  }
  if (s.responseTimeouts) {
    text +=
        base::Format("Connection Response Timeout Counter: %d%s", *s.responseTimeouts, kLineEnd);
  } else {
    text += base::Format("Connection Response Timeout Counter: %s%s", kNotRead, kLineEnd);
  }
  text += base::Format("\r\nReplace Info Save Counters%s", kLineEnd);
  text += s.flashCounters;
  text += base::Format("\r\nCPU Load, [%%]%s", kLineEnd);
  if (s.cpuLoad) {
    text += base::Format("Min: %d%s", s.cpuLoad->minimum, kLineEnd);
    text += base::Format("Max: %d%s", s.cpuLoad->maximum, kLineEnd);
    text += base::Format("Average: %.2f%s", s.cpuLoad->average, kLineEnd);
  } else {
    text += base::Format("Min: %s%s", kNotRead, kLineEnd);
    text += base::Format("Max: %s%s", kNotRead, kLineEnd);
    text += base::Format("Average: %s%s", kNotRead, kLineEnd);
  }
  text += base::Format("\r\nFree Memory, [Bytes]: %s%s", s.freeMemory.c_str(), kLineEnd);
  text += base::Format("\r\nFirmware revision%s", kLineEnd);
  text += base::Format("%s%s", s.firmwareRevision.c_str(), kLineEnd);
  text += base::Format("\r\nList all the tasks%s", kLineEnd);
  text += s.tasks;
  text += base::Format("\r\nDisplay Guarded Tasks%s", kLineEnd);
  text += s.guardedTasks;
  text += base::Format("\r\nLwIP statistics%s", kLineEnd);
  text += s.stackStatistics;
  text += base::Format("\r\n%s%s", s.lastAnswer.c_str(), kLineEnd);
  return text;
}

std::string StatisticsTimeLine(const std::tm& localTime) {
  return "Statistics Time: " + TimeText("%H:%M:%S, %B %d, %Y", localTime) + kLineEnd;
}

std::string StatisticsRangeText(const std::tm& localTime,
                                const std::vector<std::optional<std::string>>& modules) {
  std::string text = StatisticsTimeLine(localTime);
  for (const auto& module : modules) {
    text += "\r\n\r\n";
    text += module ? *module : std::string("\r\nRead Error!\r\n");
  }
  return text;
}

namespace {

std::string InFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string StatisticsFileName(const std::string& folder, const uint8_t (&address)[4],
                               const std::tm& localTime) {
  return InFolder(folder, base::Format("QuillmarStatistics_%d_%d_%d_%d_%s.txt", address[0],
                                       address[1], address[2], address[3],
                                       TimeText("%B_%d_%Y_%H_%M_%S", localTime).c_str()));
}

std::string StatisticsRangeFileName(const std::string& folder, const uint8_t (&first)[4],
                                    const uint8_t (&last)[4], const std::tm& localTime) {
  return InFolder(folder,
                  base::Format("QuillmarStatisticsRange_%d_%d_%d_%d__%d_%d_%d_%d_%s.txt", first[0],
                               first[1], first[2], first[3], last[0], last[1], last[2], last[3],
                               TimeText("%B_%d_%Y_%H_%M_%S", localTime).c_str()));
}

std::optional<int> ParseModuleNumber(std::string_view text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < kFirstModule || value > kLastModule) return std::nullopt;
  return value;
}

std::vector<int> RangeHostAddresses(int from, int to) {
  std::vector<int> hosts;
  if (from < kFirstModule || from > kLastModule || to < kFirstModule || to > kLastModule) {
    return hosts;
  }
  for (int module = from; module <= to; ++module) hosts.push_back(module + kModuleHostOffset);
  return hosts;
}

std::string NetworkText(const uint8_t (&network)[3]) {
  return base::Format("%d.%d.%d.XX", network[0], network[1], network[2]);
}

}  // namespace diag
