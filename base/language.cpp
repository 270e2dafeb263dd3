#include "base/language.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "base/translation_table.h"

namespace base {

namespace {

std::atomic<Language> currentLanguage{Language::German};

// Context and source joined by a byte that appears in neither.
std::string LookupKey(std::string_view context, std::string_view source) {
  std::string key;
  key.reserve(context.size() + 1 + source.size());
  key.append(context);
  key.push_back('\x04');
  key.append(source);
  return key;
}

const std::unordered_map<std::string, const char*>& EnglishTexts() {
  static const std::unordered_map<std::string, const char*> texts = [] {
    std::unordered_map<std::string, const char*> map;
    for (size_t i = 0; i < kEnglishTranslationCount; ++i) {
      const TranslationEntry& entry = kEnglishTranslations[i];
      map.emplace(LookupKey(entry.context, entry.source), entry.translation);
    }
    return map;
  }();
  return texts;
}

}  // namespace

std::optional<Language> ParseLanguage(std::string_view code) {
  if (code == "de") return Language::German;
  if (code == "en") return Language::English;
  return std::nullopt;
}

const char* LanguageCode(Language language) {
  return language == Language::German ? "de" : "en";
}

std::optional<std::string> ProcessEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

Language ChooseLanguage(std::optional<std::string_view> option,
                        std::optional<std::string_view> profileValue,
                        const EnvironmentLookup& environment) {
  if (option) {
    if (auto chosen = ParseLanguage(*option)) return *chosen;
  }
  if (profileValue) {
    if (auto chosen = ParseLanguage(*profileValue)) return *chosen;
  }
  // An empty variable counts as unset, as for the C library's own locale choice.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::optional<std::string> value = environment ? environment(name) : std::nullopt;
    if (!value || value->empty()) continue;
    return value->rfind("de", 0) == 0 ? Language::German : Language::English;
  }
  return Language::English;
}

void SetLanguage(Language language) {
  currentLanguage.store(language);
}

Language CurrentLanguage() {
  return currentLanguage.load();
}

const char* Translate(const char* context, const char* germanSource) {
  return Translate(CurrentLanguage(), context, germanSource);
}

const char* Translate(Language language, const char* context, const char* germanSource) {
  if (language == Language::German || context == nullptr || germanSource == nullptr) {
    return germanSource;
  }
  const auto& texts = EnglishTexts();
  auto found = texts.find(LookupKey(context, germanSource));
  return found == texts.end() ? germanSource : found->second;
}

}  // namespace base
