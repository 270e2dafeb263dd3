#include "text_checks.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QXmlStreamReader>

namespace shots {

namespace {

QString Describe(const QWidget* widget) {
  return QStringLiteral("%1 (%2)").arg(widget->objectName(),
                                       QString::fromLatin1(widget->metaObject()->className()));
}

// The text as drawn: rich text as its plain text, "&&" as "&" and a mnemonic "&" dropped.
QString ShownText(const QString& text, bool richText, bool mnemonic) {
  QString shown = text;
  if (richText) {
    QTextDocument document;
    document.setHtml(text);
    shown = document.toPlainText();
  }
  if (mnemonic) {
    shown.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    shown.remove(QLatin1Char('&'));
    shown.replace(QLatin1Char('\x01'), QLatin1Char('&'));
  }
  return shown;
}

// The width of the widest line of `text`.
int TextWidth(const QFontMetrics& metrics, const QString& text) {
  int widest = 0;
  for (const QString& line : text.split(QLatin1Char('\n')))
    widest = std::max(widest, metrics.horizontalAdvance(line));
  return widest;
}

bool Shown(const QWidget* widget, const QWidget* window) {
  return widget == window || widget->isVisibleTo(window);
}

void CheckRoom(QList<TextProblem>& problems, const QWidget* widget, const QString& text, int needed,
               int room) {
  // One pixel of slack: the advance of the last glyph is rounded.
  if (needed > room + 1) {
    problems.push_back(
        {Describe(widget), text, QStringLiteral("cut: needs %1 px, has %2").arg(needed).arg(room)});
  }
}

void CheckLabel(QList<TextProblem>& problems, const QLabel* label) {
  if (label->text().isEmpty() || label->wordWrap()) return;
  const bool rich = label->textFormat() == Qt::RichText ||
                    (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
  const QString shown = ShownText(label->text(), rich, false);
  const int margin = 2 * label->margin() + std::max(label->indent(), 0);
  CheckRoom(problems, label, shown, TextWidth(label->fontMetrics(), shown),
            label->contentsRect().width() - margin);
}

void CheckButton(QList<TextProblem>& problems, QAbstractButton* button) {
  if (button->text().isEmpty()) return;
  const QString shown = ShownText(button->text(), false, true);
  const int needed = TextWidth(button->fontMetrics(), shown);
  QStyle* style = button->style();
  // The room the style gives the text: the button's contents rectangle, beside the indicator of
  // a check box or radio button.
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  int room = button->contentsRect().width();
  if (qobject_cast<QCheckBox*>(button)) {
    room = style->subElementRect(QStyle::SE_CheckBoxContents, &option, button).width();
  } else if (qobject_cast<QRadioButton*>(button)) {
    room = style->subElementRect(QStyle::SE_RadioButtonContents, &option, button).width();
  } else if (qobject_cast<QPushButton*>(button)) {
    room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
  } else if (auto* tool = qobject_cast<QToolButton*>(button)) {
    if (tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !tool->icon().isNull()) return;
    room -= 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
  }
  CheckRoom(problems, button, shown, needed, room);
}

void CheckGroupTitle(QList<TextProblem>& problems, const QGroupBox* box) {
  if (box->title().isEmpty()) return;
  const QString shown = ShownText(box->title(), false, true);
  CheckRoom(problems, box, shown, box->fontMetrics().horizontalAdvance(shown), box->width() - 16);
}

void CheckTabs(QList<TextProblem>& problems, const QTabBar* tabs) {
  for (int i = 0; i < tabs->count(); ++i) {
    const QString shown = ShownText(tabs->tabText(i), false, true);
    // A tab's frame and padding take about 12 px of its rectangle in every shipped style.
    CheckRoom(problems, tabs, shown, tabs->fontMetrics().horizontalAdvance(shown),
              tabs->tabRect(i).width() - 12);
  }
}

// The German words that show a text was not translated (whole words only; names and terms the
// English screens keep, such as "Zone", are not among them).
const QStringList& GermanWords() {
  static const QStringList words = {
      QStringLiteral("und"),        QStringLiteral("oder"),         QStringLiteral("nicht"),
      QStringLiteral("der"),        QStringLiteral("die"),          QStringLiteral("das"),
      QStringLiteral("des"),        QStringLiteral("dem"),          QStringLiteral("den"),
      QStringLiteral("ein"),        QStringLiteral("eine"),         QStringLiteral("ist"),
      QStringLiteral("wird"),       QStringLiteral("mit"),          QStringLiteral("von"),
      QStringLiteral("bis"),        QStringLiteral("noch"),         QStringLiteral("bitte"),
      QStringLiteral("kein"),       QStringLiteral("keine"),        QStringLiteral("Knoten"),
      QStringLiteral("Modul"),      QStringLiteral("Moduls"),       QStringLiteral("Antrieb"),
      QStringLiteral("Antriebe"),   QStringLiteral("Fehler"),       QStringLiteral("Zonen"),
      QStringLiteral("Adresse"),    QStringLiteral("Einlesen"),     QStringLiteral("Netzwerk"),
      QStringLiteral("Verbindung"), QStringLiteral("Verbindungen"), QStringLiteral("Stau"),
      QStringLiteral("Aus"),        QStringLiteral("Ein"),          QStringLiteral("links"),
      QStringLiteral("rechts"),     QStringLiteral("Zähler"),       QStringLiteral("Seite"),
      QStringLiteral("gelesen"),    QStringLiteral("Sensoren"),     QStringLiteral("Einstellungen"),
      QStringLiteral("Programm"),   QStringLiteral("SPS"),          QStringLiteral("Ordner"),
      QStringLiteral("Bericht"),    QStringLiteral("Zurücksetzen")};
  return words;
}

// A source text with %1.. as a pattern that the filled-in text matches.
// Compiled once per source: every shown text of every window is matched against all of them.
const QRegularExpression& SourcePattern(const QString& source) {
  static QHash<QString, QRegularExpression> compiled;
  auto found = compiled.find(source);
  if (found != compiled.end()) return *found;
  QString pattern = QRegularExpression::escape(source);
  // escape() may have put a backslash before the '%'.
  pattern.replace(QRegularExpression(QStringLiteral("\\\\?%[0-9]")), QStringLiteral(".*"));
  QRegularExpression expression(QStringLiteral("^") + pattern + QStringLiteral("$"),
                                QRegularExpression::DotMatchesEverythingOption);
  expression.optimize();
  return *compiled.insert(source, expression);
}

// Any of the common German words, standing alone.
const QRegularExpression& GermanWordPattern() {
  static const QRegularExpression pattern = [] {
    QStringList escaped;
    for (const QString& word : GermanWords()) escaped << QRegularExpression::escape(word);
    QRegularExpression expression(QStringLiteral("(^|[^\\w])(") + escaped.join(QLatin1Char('|')) +
                                  QStringLiteral(")($|[^\\w])"));
    expression.optimize();
    return expression;
  }();
  return pattern;
}

void AddTexts(QStringList& texts, const QWidget* widget) {
  if (auto* label = qobject_cast<const QLabel*>(widget)) {
    const bool rich = label->textFormat() == Qt::RichText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    texts << ShownText(label->text(), rich, false);
  } else if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    texts << ShownText(button->text(), false, true);
  } else if (auto* box = qobject_cast<const QGroupBox*>(widget)) {
    texts << ShownText(box->title(), false, true);
  } else if (auto* tabs = qobject_cast<const QTabBar*>(widget)) {
    for (int i = 0; i < tabs->count(); ++i) texts << ShownText(tabs->tabText(i), false, true);
  } else if (auto* combo = qobject_cast<const QComboBox*>(widget)) {
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
  } else if (auto* tree = qobject_cast<const QTreeWidget*>(widget)) {
    if (QTreeWidgetItem* header = tree->headerItem())
      for (int c = 0; c < header->columnCount(); ++c) texts << header->text(c);
  }
  if (widget->isWindow()) texts << widget->windowTitle();
  texts << widget->toolTip();
}

// The text of the element just started; lupdate writes a control character (the "\r" of
// "\r\n") as <byte value="xd"/>, which a plain readElementText() stops at.
QString ElementText(QXmlStreamReader& xml) {
  QString text;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isCharacters()) {
      text += xml.text();
    } else if (xml.isStartElement() && xml.name() == QLatin1String("byte")) {
      const QString value = xml.attributes().value(QLatin1String("value")).toString();
      bool ok = false;
      const uint code =
          value.startsWith(QLatin1Char('x')) ? value.mid(1).toUInt(&ok, 16) : value.toUInt(&ok);
      if (ok) text += QChar(static_cast<char16_t>(code));
    } else if (xml.isEndElement() && xml.name() != QLatin1String("byte")) {
      break;
    }
  }
  return text;
}

}  // namespace

QStringList GermanSourceTexts(const QString& translationsFolder) {
  QStringList sources;
  const QDir folder(translationsFolder);
  for (const QString& name : folder.entryList({QStringLiteral("*.ts")}, QDir::Files)) {
    QFile file(folder.filePath(name));
    if (!file.open(QIODevice::ReadOnly)) continue;
    QXmlStreamReader xml(&file);
    QString source;
    while (!xml.atEnd()) {
      if (!xml.readNextStartElement()) continue;
      if (xml.name() == QLatin1String("source")) {
        source = ElementText(xml);
      } else if (xml.name() == QLatin1String("translation")) {
        const QString translation = ElementText(xml);
        if (!source.isEmpty() && translation != source) sources << source;
      }
    }
  }
  sources.removeDuplicates();
  return sources;
}

bool LooksGerman(const QString& text, const QStringList& germanSources) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return false;
  static const QRegularExpression letters(QStringLiteral("[äöüÄÖÜß]"));
  if (letters.match(trimmed).hasMatch()) return true;
  if (GermanWordPattern().match(trimmed).hasMatch()) return true;
  return IsTranslatedSource(trimmed, germanSources);
}

bool IsTranslatedSource(const QString& text, const QStringList& germanSources) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return false;
  for (const QString& source : germanSources) {
    if (source == trimmed) return true;
    // A filled-in source text, unless its placeholders alone make the whole text ("%1").
    if (source.contains(QLatin1Char('%')) && source.size() > 3 &&
        SourcePattern(source).match(trimmed).hasMatch())
      return true;
  }
  return false;
}

QList<TextProblem> CutTexts(QWidget* window) {
  QList<TextProblem> problems;
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  widgets.prepend(window);
  for (QWidget* widget : widgets) {
    if (!Shown(widget, window)) continue;
    if (auto* label = qobject_cast<QLabel*>(widget)) CheckLabel(problems, label);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      // A tab bar's close and scroll buttons have no text of their own.
      if (!qobject_cast<QTabBar*>(widget->parentWidget())) CheckButton(problems, button);
    }
    if (auto* box = qobject_cast<QGroupBox*>(widget)) CheckGroupTitle(problems, box);
    if (auto* tabs = qobject_cast<QTabBar*>(widget)) CheckTabs(problems, tabs);
  }
  return problems;
}

QList<TextProblem> GermanTexts(QWidget* window, const QStringList& germanSources,
                               const QStringList& userTexts) {
  QList<TextProblem> problems;
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  widgets.prepend(window);
  for (QWidget* widget : widgets) {
    if (!Shown(widget, window)) continue;
    QStringList texts;
    AddTexts(texts, widget);
    for (const QString& text : texts) {
      if (userTexts.contains(text.trimmed())) continue;
      if (IsTranslatedSource(text, germanSources)) {
        problems.push_back({Describe(widget), text, QStringLiteral("German, though translated")});
      } else if (LooksGerman(text, germanSources)) {
        problems.push_back({Describe(widget), text, QStringLiteral("German, no translation yet")});
      }
    }
  }
  return problems;
}

}  // namespace shots
