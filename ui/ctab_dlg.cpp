#include "ui/ctab_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "base/format.h"
#include "comm/event_log.h"

namespace ui {
namespace {

QWidget* Placeholder(const QString& title, QWidget* parent) {
  auto* page = new QWidget(parent);
  auto* layout = new QVBoxLayout(page);
  auto* label =
      new QLabel(CTabDlg::tr("%1\n\nDiese Seite ist noch nicht verfügbar.").arg(title), page);
  label->setAlignment(Qt::AlignCenter);
  label->setObjectName(QStringLiteral("placeholder"));
  label->setStyleSheet(QStringLiteral("color: #707070;"));
  layout->addWidget(label);
  return page;
}

}  // namespace

const std::array<const char*, CTabDlg::kPageCount>& CTabDlg::PageTitles() {
  static const std::array<const char*, kPageCount> titles = {
      QT_TRANSLATE_NOOP("ui::CTabDlg", "Vorausschau && Einstellung"),
      QT_TRANSLATE_NOOP("ui::CTabDlg", "Upgrade"),
      QT_TRANSLATE_NOOP("ui::CTabDlg", "Verbindungen"),
      QT_TRANSLATE_NOOP("ui::CTabDlg", "Netzwerk Einstellungen"),
      QT_TRANSLATE_NOOP("ui::CTabDlg", "Besondere Dienste"),
      QT_TRANSLATE_NOOP("ui::CTabDlg", "Funktion Pin 2"),
      QT_TRANSLATE_NOOP("ui::CTabDlg", "Flex Zone"),
      QT_TRANSLATE_NOOP("ui::CTabDlg", "Sensoren"),
      QT_TRANSLATE_NOOP("ui::CTabDlg", "Erweiterungen")};
  return titles;
}

CTabDlg::CTabDlg(const AdvancedPageContext& context, const Pages& pages, QWidget* parent)
    : QDialog(parent), context_(context) {
  WriteTrace("Init Advanced Dlgs");
  setWindowTitle(tr("Erweiterte Funktionen"));
  setObjectName(QStringLiteral("CTabDlg"));
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("CMRegTabCtrl"));
  tabs_->setUsesScrollButtons(false);  // all nine tabs in view
  for (int index = 0; index < kPageCount; ++index) {
    const QString title = tr(PageTitles()[index]);
    QWidget* page = nullptr;
    const PageFactory& factory = pages[static_cast<size_t>(index)];
    if (factory) page = factory(context_, tabs_);
    // The tab shows "&&" as "&", as the shown title; a placeholder names the page plainly.
    if (!page)
      page = Placeholder(QString(title).replace(QStringLiteral("&&"), QStringLiteral("&")), tabs_);
    tabs_->addTab(page, title);
    WriteTrace(base::Format("m_Tab.InsertItem(%d,%s)", index, PageTitles()[index]));
  }
  layout->addWidget(tabs_);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* close = buttons->addButton(tr("Schließen"), QDialogButtonBox::RejectRole);

  close->setObjectName(QStringLiteral("close"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  buttons_ = buttons;
  layout->addWidget(buttons);
  resize(1060, 600);
  WriteTrace("Init Successful");
}

QPushButton* CTabDlg::AddAction(const QString& text, const QString& name,
                                std::function<void()> action) {
  QPushButton* button = buttons_->addButton(text, QDialogButtonBox::ActionRole);
  button->setObjectName(name);
  connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
  return button;
}

}  // namespace ui
