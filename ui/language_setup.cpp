#include "ui/language_setup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

#include "platform/profile.h"

namespace ui {

namespace {

// The translators live as long as the program (or until the next call replaces them).
std::unique_ptr<QTranslator>& ProgramTranslator() {
  static std::unique_ptr<QTranslator> translator;
  return translator;
}
std::unique_ptr<QTranslator>& QtTranslator() {
  static std::unique_ptr<QTranslator> translator;
  return translator;
}

void Remove(std::unique_ptr<QTranslator>& translator) {
  if (!translator) return;
  QCoreApplication::removeTranslator(translator.get());
  translator.reset();
}

}  // namespace

std::optional<std::string> LangOption(const QStringList& arguments, bool* missingValue) {
  if (missingValue) *missingValue = false;
  std::optional<std::string> value;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == QLatin1String("--lang")) {
      if (i + 1 >= arguments.size()) {
        if (missingValue) *missingValue = true;
        return std::nullopt;
      }
      value = arguments[++i].toStdString();
    } else if (argument.startsWith(QLatin1String("--lang="))) {
      value = argument.mid(7).toStdString();
    }
  }
  return value;
}

base::Language ChooseStartLanguage(const std::optional<std::string>& option,
                                   platform::ProfileStore& profile) {
  const std::string stored = profile.GetString(base::kLanguageSection, base::kLanguageKey, "");
  std::optional<std::string_view> optionValue;
  if (option) optionValue = *option;
  std::optional<std::string_view> profileValue;
  if (!stored.empty()) profileValue = stored;
  return base::ChooseLanguage(optionValue, profileValue);
}

bool InstallTranslators(base::Language language) {
  base::SetLanguage(language);
  Remove(ProgramTranslator());
  Remove(QtTranslator());
  const QString code = QString::fromLatin1(base::LanguageCode(language));

  // Qt's own texts (standard buttons, file dialogs) in the chosen language, when the system
  // has them; English needs none.
  auto qt = std::make_unique<QTranslator>();
  if (qt->load(QStringLiteral("qtbase_") + code,
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt.get());
    QtTranslator() = std::move(qt);
  }

  // The screens' source texts are German: only English has a translation, compiled into the
  // program as a resource.
  if (language == base::Language::German) return true;
  auto own = std::make_unique<QTranslator>();
  if (!own->load(QStringLiteral(":/translations/gui_") + code + QStringLiteral(".qm"))) {
    return false;
  }
  QCoreApplication::installTranslator(own.get());
  ProgramTranslator() = std::move(own);
  return true;
}

}  // namespace ui
