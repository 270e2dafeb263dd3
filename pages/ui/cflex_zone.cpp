#include "pages/ui/cflex_zone.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/format.h"
#include "base/language.h"

namespace pages {
namespace {

QColor FromColorRef(uint32_t colour) {
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

constexpr const char* kTimeCaption =
    QT_TRANSLATE_NOOP("pages::CFlexZone", "Kommunikationszeit zwischen den Modulen (ms)");
constexpr const char* kTimeHelp = QT_TRANSLATE_NOOP(
    "pages::CFlexZone",
    "In Schritten von 10 ms erhöhen, wenn ein Karton nur wenig länger als eine Zone ist.");

}  // namespace

CFlexZone::CFlexZone(const ui::AdvancedPageContext& context, std::unique_ptr<ModuleLink> link,
                     FlexZone::Lister lister, QWidget* parent)
    : QWidget(parent),
      network_(context.networkAddress),
      core_(std::make_shared<Core>(std::move(link), std::move(lister))),
      runner_(this, context.worker),
      prompt_(this, context.prompt) {
  setObjectName(QStringLiteral("CFlexZone"));
  auto* layout = new QVBoxLayout(this);
  auto* box = new QGroupBox(tr("Flex Zone"), this);
  auto* grid = new QGridLayout(box);
  count_ = new QLabel(box);
  count_->setObjectName(QStringLiteral("count"));
  status_ = new QLabel(box);
  status_->setObjectName(QStringLiteral("status"));
  status_->setMinimumHeight(48);
  QFont bold = status_->font();
  bold.setBold(true);
  status_->setFont(bold);
  enableAll_ = new QPushButton(tr("Enable All"), box);
  enableAll_->setObjectName(QStringLiteral("enableAll"));
  disableAll_ = new QPushButton(tr("Disable All"), box);
  disableAll_->setObjectName(QStringLiteral("disableAll"));
  time_ = new QLineEdit(box);
  time_->setObjectName(QStringLiteral("time"));
  time_->setMaximumWidth(90);
  time_->setToolTip(CaptionTip(tr(kTimeCaption), tr(kTimeHelp)));

  setAll_ = new QPushButton(tr("Set All"), box);
  setAll_->setObjectName(QStringLiteral("setAll"));
  progress_ = new QLabel(box);
  progress_->setObjectName(QStringLiteral("progress"));
  grid->addWidget(count_, 0, 0, 1, 3);
  grid->addWidget(status_, 1, 0, 1, 3);
  grid->addWidget(enableAll_, 2, 0);
  grid->addWidget(disableAll_, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("ms"), box), 3, 1);
  grid->addWidget(time_, 3, 0, Qt::AlignRight);
  grid->addWidget(setAll_, 3, 2);
  grid->addWidget(progress_, 4, 0, 1, 3);
  grid->setColumnStretch(3, 1);
  layout->addWidget(box);
  layout->addStretch(1);
  enableAll_->setEnabled(false);
  disableAll_->setEnabled(false);
  connect(enableAll_, &QPushButton::clicked, this, &CFlexZone::EnableAll);
  connect(disableAll_, &QPushButton::clicked, this, &CFlexZone::DisableAll);
  connect(setAll_, &QPushButton::clicked, this, &CFlexZone::SetAll);
}

void CFlexZone::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!refreshed_) {
    refreshed_ = true;
    Refresh();
  }
}

void CFlexZone::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Refresh();
    return;
  }
  QWidget::keyPressEvent(event);
}

void CFlexZone::Show(const FlexZoneView& view, bool final) {
  shown_ = view;
  count_->setText(QString::fromUtf8(
      base::Format(base::Translate("FlexZone", kFlexCountText), view.moduleCount).c_str()));
  // The status is one of the page's table texts, shown in the user's language.
  status_->setText(QString::fromUtf8(base::Translate("FlexZone", view.statusText.c_str())));
  QPalette palette = status_->palette();
  palette.setColor(QPalette::WindowText, FromColorRef(FlexStateColour(view.state)));
  status_->setPalette(palette);
  progress_->setText(QString::fromStdString(view.progressText));
  const bool idle = final && !runner_.Busy();
  enableAll_->setEnabled(idle && view.buttonsEnabled);
  disableAll_->setEnabled(idle && view.buttonsEnabled);
  setAll_->setEnabled(idle);
  if (final && view.timeKnown) time_->setText(QString::fromStdString(view.timeText));
  if (final) progress_->clear();
  emit viewShown();
}

void CFlexZone::Refresh() {
  if (runner_.Busy()) return;
  status_->clear();
  auto core = core_;
  const std::string network = network_;
  auto report = runner_.Reporter<FlexZoneView>([this](const FlexZoneView& v) { Show(v, false); });
  runner_.Run([core, network, report] { return core->zone.Refresh(network, report); },
              [this](const FlexZoneView& view) { Show(view, true); });
}

void CFlexZone::Switch(uint16_t value) {
  if (runner_.Busy() || !shown_.buttonsEnabled) return;
  enableAll_->setEnabled(false);
  disableAll_->setEnabled(false);
  setAll_->setEnabled(false);
  auto core = core_;
  auto report = runner_.Reporter<FlexZoneView>([this](const FlexZoneView& v) { Show(v, false); });
  runner_.Run([core, value, report] { return core->zone.SwitchAll(value, report); },
              [this, value](const FlexZoneView& view) {
                Show(view, true);
                TellFailed(view, value == 0 ? "Enable All" : "Disable All");
              });
}

void CFlexZone::TellFailed(const FlexZoneView& view, const char* operation) {
  // The status sentence reads the modules' RAM: a module whose save was not confirmed would
  // look switched although its flash keeps the old state.
  if (!view.failed.empty())
    prompt_.TellFailure(FailedModulesText(operation, view.failed), "Flex Zone");
}

void CFlexZone::EnableAll() {
  Switch(0);
}

void CFlexZone::DisableAll() {
  Switch(1);
}

void CFlexZone::SetAll() {
  if (runner_.Busy()) return;
  enableAll_->setEnabled(false);
  disableAll_->setEnabled(false);
  setAll_->setEnabled(false);
  auto core = core_;
  const std::string typed = time_->text().toStdString();
  auto report = runner_.Reporter<FlexZoneView>([this](const FlexZoneView& v) { Show(v, false); });
  runner_.Run([core, typed, report] { return core->zone.SetAll(typed, report); },
              [this](const FlexZoneView& view) {
                Show(view, true);
                if (view.refusal.empty()) TellFailed(view, "Set All");
                if (!view.refusal.empty()) {
                  auto* box =
                      new QMessageBox(QMessageBox::Warning, QStringLiteral("Flex Zone"),
                                      QString::fromStdString(view.refusal), QMessageBox::Ok, this);
                  box->setAttribute(Qt::WA_DeleteOnClose);
                  box->open();
                }
              });
}

}  // namespace pages
