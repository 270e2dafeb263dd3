#pragma once
// The desktop program's language: chosen at start from --lang, the profile and the locale, and
// made the language of the Qt screens (their translators) and of the core's texts.
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "base/language.h"

namespace platform {
class ProfileStore;
}

namespace ui {

// The value of --lang (or --lang=VALUE) among the program's arguments; nothing when the option
// is not given. `missingValue` is set when --lang ends the line without a value.
std::optional<std::string> LangOption(const QStringList& arguments, bool* missingValue = nullptr);

// --lang if given, else the profile entry, else the locale.
base::Language ChooseStartLanguage(const std::optional<std::string>& option,
                                   platform::ProfileStore& profile);

// Makes `language` the language of the texts shown from now on: the core's texts
// (base::SetLanguage) and the screens' texts (the program's translator and Qt's own for the
// standard buttons, when installed). Replaces the translators an earlier call installed.
// Returns false when the program's own translation is missing (the screens then stay German).
bool InstallTranslators(base::Language language);

// The core's text `source` of `context` in the language of the screens.
inline QString CoreText(const char* context, const char* source) {
  return QString::fromUtf8(base::Translate(context, source));
}
inline QString CoreText(const char* context, const std::string& source) {
  return CoreText(context, source.c_str());
}

}  // namespace ui
