#pragma once
// What `DiagnosticScreen` shows of one module, built from the node screen's register image:
// the blocks the screen asks the node screen to read, and the content made of them (reasons,
// motor faults, zone errors, sensor states). Shared by the window and by quillmar-cli diag.
#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "base/language.h"
#include "diag/diagnostic_screen.h"
#include "params/image_view.h"

namespace params {
class NodeScreenController;
}

namespace diag {

// The register blocks (first, count) read for the screen on every refresh.
struct RegisterBlock {
  int first;
  int count;
};
inline constexpr std::array<RegisterBlock, 15> kDiagnosticBlocks = {{{6, 1},
                                                                     {17, 20},
                                                                     {40, 22},
                                                                     {64, 25},
                                                                     {90, 21},
                                                                     {110, 20},
                                                                     {170, 21},
                                                                     {190, 20},
                                                                     {270, 21},
                                                                     {134, 25},
                                                                     {370, 14},
                                                                     {214, 25},
                                                                     {488, 22},
                                                                     {10001, 2},
                                                                     {10101, 2}}};

// Shown instead of a field whose registers the module refused on this refresh (a module of
// 363 or 383 registers has no registers above its count).
inline constexpr char kUnknownField[] = "---";

// Image slots (register numbers as stored) that the last refresh could not read.
using UnreadSlots = std::bitset<params::kImageWords>;

struct ZoneContent {
  ZoneReason reason;
  std::string errorText;
  SensorState sensor;
  // False: the field's registers were not read, and it shows kUnknownField.
  bool reasonKnown = true;
  bool errorsKnown = true;
  bool sensorKnown = true;
};

struct DiagnosticContent {
  std::string address;
  bool reachable = false;  // false: only `unreachableText` is shown
  std::string unreachableText;
  std::string title;                  // kScreenTitle and the address
  std::array<ZoneContent, 2> zones;   // upstream, downstream
  std::array<MotorStatus, 2> motors;  // left, right
  std::array<bool, 2> motorsKnown{true, true};
  uint64_t refreshes = 0;  // refreshes made so far (the screen follows the node screen's cycle)
};

// The content of the module at `address` from its register image; fields that need a slot of
// `unread` are unknown.
DiagnosticContent DiagnosticContentOf(const params::ImageView& image, const std::string& address,
                                      const UnreadSlots& unread = {});
// The content shown for a module that cannot be reached.
DiagnosticContent UnreachableContent(const std::string& address);

// Asks the node screen to read the blocks above (its mirror rule applies) and builds the
// content from its image. Runs on the node screen's worker thread. A block the module refuses
// (an exception answer) or answers with another request's answer leaves its fields unknown and
// the rest is shown; a module the node screen is not connected to, or whose connection breaks
// during the reads, gives the unreachable content.
DiagnosticContent ReadDiagnosticContent(params::NodeScreenController& screen);

// Writes the Warning line for every zone whose reason code the emergency stop hides, but only
// when that zone's hidden code or register 19 value differs from `previous` (the screen
// refreshes twice a second; one line per change tells the story without flooding the log).
void LogHiddenReasons(const DiagnosticContent& content, const DiagnosticContent* previous);

// The content as plain text lines, as quillmar-cli diag prints it, in `language` (the table
// texts that have a translation; the rest as the module's content holds them).
// A text of the content (a reason, the zone errors, a motor's faults; several may be joined by
// "\n\r") in `language`, as far as the screen's tables have it.
std::string ShownText(const std::string& text, base::Language language);

std::string DiagnosticText(const DiagnosticContent& content,

                           base::Language language = base::Language::German);

}  // namespace diag
