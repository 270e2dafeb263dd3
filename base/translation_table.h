#pragma once
// The English texts of translations/core_en.ts, generated at build time
// (tools/translations/ts_to_table.py), so that the core translates without Qt.
#include <cstddef>

namespace base {

struct TranslationEntry {
  const char* context;
  const char* source;
  const char* translation;
};

extern const TranslationEntry kEnglishTranslations[];
extern const size_t kEnglishTranslationCount;

}  // namespace base
