// The language is chosen by --lang, else the profile entry, else the locale (LC_ALL,
// LC_MESSAGES, LANG: the first one set); German only when that locale starts with "de".
#include "base/language.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace {

using base::Language;

struct ChoiceCase {
  const char* what;
  std::optional<std::string> option;
  std::optional<std::string> profile;
  std::map<std::string, std::string> environment;
  Language expected;
};

TEST(Language, ChoiceOrder) {
  const Language G = Language::German;
  const Language E = Language::English;
  const ChoiceCase cases[] = {
      {"option de beats profile and locale", "de", "en", {{"LANG", "en_US.UTF-8"}}, G},
      {"option en beats profile and locale", "en", "de", {{"LANG", "de_DE.UTF-8"}}, E},
      {"unknown option falls to profile", "fr", "de", {{"LANG", "en_US.UTF-8"}}, G},
      {"profile en beats German locale", std::nullopt, "en", {{"LC_ALL", "de_DE.UTF-8"}}, E},
      {"profile de beats English locale", std::nullopt, "de", {{"LANG", "C"}}, G},
      {"empty profile falls to locale", std::nullopt, "", {{"LANG", "de_AT.UTF-8"}}, G},
      {"unknown profile falls to locale", std::nullopt, "deutsch", {{"LANG", "en_GB"}}, E},
      {"LC_ALL first",
       std::nullopt,
       std::nullopt,
       {{"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "en_US"}, {"LANG", "en_US"}},
       G},
      {"LC_ALL first (English)",
       std::nullopt,
       std::nullopt,
       {{"LC_ALL", "en_US.UTF-8"}, {"LC_MESSAGES", "de_DE"}, {"LANG", "de_DE"}},
       E},
      {"LC_MESSAGES before LANG",
       std::nullopt,
       std::nullopt,
       {{"LC_MESSAGES", "de_CH.UTF-8"}, {"LANG", "en_US"}},
       G},
      {"LC_MESSAGES before LANG (English)",
       std::nullopt,
       std::nullopt,
       {{"LC_MESSAGES", "en_US.UTF-8"}, {"LANG", "de_DE"}},
       E},
      {"empty LC_ALL counts as unset",
       std::nullopt,
       std::nullopt,
       {{"LC_ALL", ""}, {"LANG", "de_DE.UTF-8"}},
       G},
      {"LANG German", std::nullopt, std::nullopt, {{"LANG", "de_DE.UTF-8"}}, G},
      {"LANG bare de", std::nullopt, std::nullopt, {{"LANG", "de"}}, G},
      {"LANG C", std::nullopt, std::nullopt, {{"LANG", "C"}}, E},
      {"LANG POSIX", std::nullopt, std::nullopt, {{"LANG", "POSIX"}}, E},
      {"LANG C.UTF-8", std::nullopt, std::nullopt, {{"LANG", "C.UTF-8"}}, E},
      {"LANG other language", std::nullopt, std::nullopt, {{"LANG", "fr_FR.UTF-8"}}, E},
      {"nothing set", std::nullopt, std::nullopt, {}, E},
  };
  for (const ChoiceCase& c : cases) {
    auto lookup = [&c](const char* name) -> std::optional<std::string> {
      auto found = c.environment.find(name);
      if (found == c.environment.end()) return std::nullopt;
      return found->second;
    };
    std::optional<std::string_view> option, profile;
    if (c.option) option = *c.option;
    if (c.profile) profile = *c.profile;
    EXPECT_EQ(base::ChooseLanguage(option, profile, lookup), c.expected) << c.what;
  }
}

TEST(Language, CodesRoundTrip) {
  EXPECT_EQ(base::ParseLanguage("de"), Language::German);
  EXPECT_EQ(base::ParseLanguage("en"), Language::English);
  EXPECT_EQ(base::ParseLanguage("EN"), std::nullopt);
  EXPECT_EQ(base::ParseLanguage(""), std::nullopt);
  EXPECT_STREQ(base::LanguageCode(Language::German), "de");
  EXPECT_STREQ(base::LanguageCode(Language::English), "en");
}

TEST(Language, GermanAndUnknownTextsStayAsWritten) {
  const char* source = "Kein solcher Text";
  EXPECT_EQ(base::Translate(Language::German, "NoSuchContext", source), source);
  EXPECT_EQ(base::Translate(Language::English, "NoSuchContext", source), source);
}

// The table compiled from translations/core_en.ts: a text of a context has its English text,
// the same German text in another context is looked up there, and German is the source itself.
TEST(Language, EnglishTextsComeFromTheTranslationFile) {
  struct Case {
    const char* context;
    const char* german;
    const char* english;
  };
  const Case cases[] = {
      {"DisplayItems", "Geschwindigkeit:", "Speed:"},
      {"DisplayItems", "Kurzschluss", "Short circuit"},
      {"DiagnosticScreen", "Überlast", "Overload"},
      {"DiagnosticScreen", "Sensor Blockade\n\r", "Sensor jam\n\r"},
      {"NodeScreen", "Kurzschluss %d Meter vom Modul.", "Short circuit %d metres from the module."},
      {"NodeScreen", "Geschwindigkeit:", "Geschwindigkeit:"},  // not a text of that context
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(base::Translate(Language::English, c.context, c.german), c.english)
        << c.context << " / " << c.german;
    EXPECT_EQ(base::Translate(Language::German, c.context, c.german), c.german);
  }
  const Language before = base::CurrentLanguage();
  base::SetLanguage(Language::English);
  EXPECT_STREQ(base::Translate("DisplayItems", "Seriennummer:"), "Serial number:");
  base::SetLanguage(Language::German);
  EXPECT_STREQ(base::Translate("DisplayItems", "Seriennummer:"), "Seriennummer:");
  base::SetLanguage(before);
}

TEST(Language, CurrentLanguageIsSetByTheProgram) {
  const Language before = base::CurrentLanguage();
  base::SetLanguage(Language::English);
  EXPECT_EQ(base::CurrentLanguage(), Language::English);
  base::SetLanguage(Language::German);
  EXPECT_EQ(base::CurrentLanguage(), Language::German);
  base::SetLanguage(before);
}

}  // namespace
