#include "pages/ui/csensors.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

#include "base/format.h"
#include "params/range_operations.h"

namespace pages {
namespace {

bool IsError(size_t k) {
  return k >= 2;
}

}  // namespace

CSensors::CSensors(const ui::AdvancedPageContext& context, std::unique_ptr<ModuleLink> link,
                   QWidget* parent)
    : QWidget(parent),
      network_(context.networkAddress),
      shown_address_(NodeAddressText(context.networkAddress, context.fromNode)),
      range_(RangeAddresses(context.networkAddress, context.fromNode, context.toNode)),
      core_(std::make_shared<Core>(std::move(link))),
      runner_(this, context.worker),
      prompt_(this, context.prompt) {
  setObjectName(QStringLiteral("CSensors"));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  const char* sideTips[2] = {kSensorsTipLeft, kSensorsTipRight};
  const QString sideTitles[2] = {tr("Links"), tr("Rechts")};
  for (size_t side = 0; side < 2; ++side) {
    auto* box = new QGroupBox(sideTitles[side], this);

    box->setToolTip(CaptionTip(sideTips[side]));
    auto* grid = new QGridLayout(box);
    for (size_t kind = 0; kind < 2; ++kind) {
      const size_t k = kind * 2 + side;  // BlockedLeft, BlockedRight, ErrorLeft, ErrorRight
      const bool error = IsError(k);
      auto* label = new QLabel(error ? tr("Sensor Fehler") : tr("Sensor Invertierung"), box);
      if (error) errorLabels_[side] = label;
      const QString tip =
          CaptionTip(error ? kSensorsTipError : kSensorsTipInversion, sideTips[side]);
      toggles_[k] = new QPushButton(error ? tr("On/Off Error") : tr("On/Off Blocked"), box);
      toggles_[k]->setObjectName(QString::fromLatin1(error ? "toggleError%1" : "toggleBlocked%1")
                                     .arg(side == 0 ? "Left" : "Right"));
      toggles_[k]->setToolTip(tip);
      setButtons_[k] = new QToolButton(box);
      setButtons_[k]->setText(tr("▲ invertiert"));
      setButtons_[k]->setCheckable(true);
      setButtons_[k]->setToolTip(tip);
      clearButtons_[k] = new QToolButton(box);
      clearButtons_[k]->setText(tr("▼ normal"));
      clearButtons_[k]->setCheckable(true);
      clearButtons_[k]->setToolTip(tip);
      const int r = static_cast<int>(kind);
      grid->addWidget(label, r, 0);
      grid->addWidget(toggles_[k], r, 1);
      grid->addWidget(setButtons_[k], r, 2);
      grid->addWidget(clearButtons_[k], r, 3);
      const int setting = static_cast<int>(k);
      connect(toggles_[k], &QPushButton::clicked, this, [this, setting] { Toggle(setting); });
      connect(setButtons_[k], &QToolButton::clicked, this,
              [this, setting] { SetBit(setting, true); });
      connect(clearButtons_[k], &QToolButton::clicked, this,
              [this, setting] { SetBit(setting, false); });
    }
    row->addWidget(box);
  }
  layout->addLayout(row);
  lock_ = new QLabel(this);
  lock_->setObjectName(QStringLiteral("lock"));
  layout->addWidget(lock_);
  auto* bottom = new QHBoxLayout;
  setAll_ = new QPushButton(tr("Set All Sensors this way"), this);
  setAll_->setObjectName(QStringLiteral("setAll"));
  setAll_->setToolTip(CaptionTip(kSensorsTipSetAll));
  progress_ = new QLabel(this);
  progress_->setObjectName(QStringLiteral("progress"));
  bottom->addWidget(setAll_);
  bottom->addWidget(progress_, 1);
  layout->addLayout(bottom);
  layout->addStretch(1);
  connect(setAll_, &QPushButton::clicked, this, [this] { SetAllSensors(true); });
}

void CSensors::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!refreshed_) {
    refreshed_ = true;
    Refresh();
  }
}

void CSensors::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Refresh();
    return;
  }
  QWidget::keyPressEvent(event);
}

void CSensors::Show(const SensorsView& view, bool final) {
  shown_ = view;
  const bool idle = final && !runner_.Busy();
  for (size_t k = 0; k < 4; ++k) {
    const bool visible = !IsError(k) || view.errorShown;
    const uint16_t mask = SensorMask(static_cast<SensorSetting>(k), view.reversed);
    const bool set = view.connected && (view.current[k] & mask) != 0;
    toggles_[k]->setVisible(visible);
    setButtons_[k]->setVisible(visible);
    clearButtons_[k]->setVisible(visible);
    setButtons_[k]->setChecked(set);
    clearButtons_[k]->setChecked(view.connected && !set);
    toggles_[k]->setEnabled(idle && view.connected);
    setButtons_[k]->setEnabled(idle && view.connected);
    clearButtons_[k]->setEnabled(idle && view.connected);
  }
  for (QLabel* label : errorLabels_) label->setVisible(view.errorShown);
  setAll_->setEnabled(idle && view.connected && !range_.empty());
  lock_->setText(view.locked ? tr("Gesperrt: das Modul wird von einer SPS gesteuert.") : QString());
  progress_->setText(QString::fromStdString(view.progressText));
  emit viewShown();
}

void CSensors::Refresh() {
  if (runner_.Busy()) return;
  auto core = core_;
  const std::string address = range_.empty() ? std::string() : shown_address_;
  runner_.Run([core, address] { return core->sensors.Refresh(address); },
              [this](const SensorsView& view) { Show(view, true); });
}

void CSensors::RunWrite(std::function<SensorsView(Sensors&)> work) {
  if (runner_.Busy() || !shown_.connected) return;
  auto core = core_;
  runner_.Run([core, work = std::move(work)] { return work(core->sensors); },
              [this](const SensorsView& view) {
                Show(view, true);
                if (!view.writeFailure.empty())
                  prompt_.TellFailure(view.writeFailure, kSensorsCaption);
              });
}

void CSensors::Toggle(int setting) {
  RunWrite([setting](Sensors& s) { return s.Toggle(static_cast<SensorSetting>(setting)); });
}

void CSensors::SetBit(int setting, bool set) {
  RunWrite(
      [setting, set](Sensors& s) { return s.SetBit(static_cast<SensorSetting>(setting), set); });
}

void CSensors::SetAllSensors(bool ask) {
  if (runner_.Busy() || !shown_.connected || range_.empty()) return;
  if (ask) {
    const std::string question =
        base::Format(kSensorsSetAllQuestion, range_.front().c_str(), range_.back().c_str());
    const auto answer =
        QMessageBox::question(this, QString::fromUtf8(kSensorsCaption),
                              QString::fromStdString(question), QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
  }
  auto core = core_;
  const auto range = range_;
  auto report = runner_.Reporter<SensorsView>([this](const SensorsView& v) { Show(v, false); });
  runner_.Run(
      [core, range, report] {
        SensorsSetAllOutcome outcome = core->sensors.SetAll(range, report);
        return std::make_pair(std::move(outcome), core->sensors.View());
      },
      [this](const std::pair<SensorsSetAllOutcome, SensorsView>& result) {
        const auto& [outcome, view] = result;
        Show(view, true);
        // Every module of the range is tried; the ones not written or not saved are told
        // together at the end.
        if (!outcome.ran) {
          prompt_.TellFailure(base::Format(params::kConnectionLost, shown_address_.c_str()),
                              kSensorsCaption);
        } else if (!outcome.failed.empty()) {
          prompt_.TellFailure(FailedModulesText("Set All Sensors this way", outcome.failed),
                              kSensorsCaption);
        }
      });
}

}  // namespace pages
