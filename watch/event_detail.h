#pragma once

#include <string>

#include "base/format.h"
#include "base/language.h"
#include "watch/line_watch.h"

namespace watch {

// An event's detail is written once, from its German text: `detail` gets the English, which the
// JSON line, the CLI line and the event log keep in every language, and `germanDetail` the German
// that the window shows when it speaks German. Counts and names are put in after each text is
// translated.
template <typename... Args>
void SetDetail(WatchEvent& event, const char* german, Args... args) {
  const char* english = base::Translate(base::Language::English, "LineWatch", german);
  if constexpr (sizeof...(Args) == 0) {
    event.detail = english;
    event.germanDetail = german;
  } else {
    event.detail = base::Format(english, args...);
    event.germanDetail = base::Format(german, args...);
  }
}

template <typename... Args>
void AppendDetail(WatchEvent& event, const char* german, Args... args) {
  WatchEvent part;
  SetDetail(part, german, args...);
  event.detail += part.detail;
  event.germanDetail += part.germanDetail;
}

// A round's failure, written the same way.
template <typename... Args>
void SetFailure(RoundView& view, const char* german, Args... args) {
  WatchEvent part;
  SetDetail(part, german, args...);
  view.failure = part.detail;
  view.germanFailure = part.germanDetail;
}

}  // namespace watch
