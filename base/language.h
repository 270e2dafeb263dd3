#pragma once
// The language of the texts shown to the user: German (the texts' own language) or English.
// Qt-free, so that the CLI and the core translate without Qt; the desktop program uses the same
// choice and the same contexts.
//
// Texts are marked where they are written: Translate("Context", "Text") for a text shown at
// once, QM_TRANSLATE_NOOP("Context", "Text") for a text kept in a table and translated where it
// is shown. Both are found by lupdate (tools/translations), which keeps translations/core_en.ts.
// The event log always keeps the German text: translate only what is shown.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Marks a text of a table for translation; the text itself is the value (German).
#define QM_TRANSLATE_NOOP(context, text) text

namespace base {

enum class Language { German, English };

// The profile entry that keeps the chosen language ("de" or "en"), in the section of the
// program's other settings.
inline constexpr const char* kLanguageSection = "Settings";
inline constexpr const char* kLanguageKey = "Language";

// "de" → German, "en" → English, anything else → nothing.
std::optional<Language> ParseLanguage(std::string_view code);
// "de" or "en".
const char* LanguageCode(Language language);

// Looks up an environment variable; nothing when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;
// The process's own environment.
std::optional<std::string> ProcessEnvironment(const char* name);

// The language to use: the option (--lang) if it names one, else the profile entry if it names
// one, else the locale: the first non-empty of LC_ALL, LC_MESSAGES and LANG, German when it
// starts with "de", English for anything else (unset, C, POSIX, en_*, ...).
Language ChooseLanguage(std::optional<std::string_view> option,
                        std::optional<std::string_view> profileValue,
                        const EnvironmentLookup& environment = ProcessEnvironment);

// The language of the texts shown from now on (German until set).
void SetLanguage(Language language);
Language CurrentLanguage();

// The English text of a German source text in English; the source itself in German or when
// it has no translation. The result lives as long as the program.
const char* Translate(const char* context, const char* germanSource);
// The same for an explicitly given language (the hand-over report chooses its own).
const char* Translate(Language language, const char* context, const char* germanSource);

}  // namespace base
