#pragma once
// Checks of the texts a window shows, run on every window the screenshot program renders when
// it is started with --check: no label's, button's, group's or tab's text is wider than the
// room its widget gives it, and, in English, no text is left in German.
#include <QString>
#include <QStringList>
#include <QWidget>

namespace shots {

struct TextProblem {
  QString widget;  // object name and class of the widget
  QString text;
  QString what;  // "cut: needs 120 px, has 96" or "German, ..."
  bool fails = true;
};

// The German source texts of the translation files (translations/*.ts) whose English text
// differs: what the English screens must not show any more.
QStringList GermanSourceTexts(const QString& translationsFolder);

// A text that reads as German: one of `germanSources` (whole, or with its %1.. filled in), a
// German letter (ä ö ü ß) or a common German word.
bool LooksGerman(const QString& text, const QStringList& germanSources);
// One of `germanSources`, whole or with its %1.. filled in: a text that has its translation.
bool IsTranslatedSource(const QString& text, const QStringList& germanSources);

// The problems of the visible widgets of `window` (the window itself included). A text of
// `userTexts` (whole) is the user's own data, shown as the user wrote it in every language (the
// names and list entries of a PLC tag file), and is never taken for German.
QList<TextProblem> CutTexts(QWidget* window);
QList<TextProblem> GermanTexts(QWidget* window, const QStringList& germanSources,
                               const QStringList& userTexts = {});

}  // namespace shots
