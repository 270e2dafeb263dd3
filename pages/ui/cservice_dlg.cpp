#include "pages/ui/cservice_dlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

#include "base/format.h"
#include "params/range_operations.h"

namespace pages {
namespace {

// The dialog's texts carry "&&" for one "&"; a label shows them as they are.
QString Shown(const char* text) {
  return QString::fromUtf8(text).replace(QStringLiteral("&&"), QStringLiteral("&"));
}

}  // namespace

CServiceDlg::CServiceDlg(const ui::AdvancedPageContext& context, std::unique_ptr<ModuleLink> link,
                         QWidget* parent)
    : QWidget(parent),
      shown_address_(NodeAddressText(context.networkAddress, context.fromNode)),
      core_(std::make_shared<Core>(std::move(link))),
      runner_(this, context.worker),
      prompt_(this, context.prompt) {
  setObjectName(QStringLiteral("CServiceDlg"));
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;

  hours_ = new QGroupBox(tr("Reset Operating Time"), this);
  hours_->setObjectName(QStringLiteral("hours"));
  hours_->setToolTip(CaptionTip(kServiceTipHours));
  auto* hoursLayout = new QVBoxLayout(hours_);
  commands_[0] = new QPushButton(tr("Left Motor"), hours_);
  commands_[0]->setObjectName(QStringLiteral("leftMotor"));
  commands_[0]->setToolTip(CaptionTip(kServiceTipHours, kServiceTipLeftMotor));
  commands_[1] = new QPushButton(tr("Right Motor"), hours_);
  commands_[1]->setObjectName(QStringLiteral("rightMotor"));
  commands_[1]->setToolTip(CaptionTip(kServiceTipHours, kServiceTipRightMotor));
  hoursLayout->addWidget(commands_[0]);
  hoursLayout->addWidget(commands_[1]);
  top->addWidget(hours_);

  auto* shortBox = new QGroupBox(tr("Clear Motor short-circuit Errors"), this);
  auto* shortLayout = new QVBoxLayout(shortBox);
  commands_[2] = new QPushButton(tr("Reset"), shortBox);
  commands_[2]->setObjectName(QStringLiteral("shortCircuit"));
  commands_[2]->setToolTip(CaptionTip(kServiceTipShortCircuit));
  shortLayout->addWidget(commands_[2]);
  shortLayout->addStretch(1);
  top->addWidget(shortBox);

  auto* dtaBox = new QGroupBox(tr("DTA Reset"), this);
  auto* dtaLayout = new QVBoxLayout(dtaBox);
  commands_[3] = new QPushButton(tr("Upstream"), dtaBox);
  commands_[3]->setObjectName(QStringLiteral("dtaUpstream"));
  commands_[3]->setToolTip(CaptionTip(kServiceTipUpstream));
  commands_[4] = new QPushButton(tr("Downstream"), dtaBox);
  commands_[4]->setObjectName(QStringLiteral("dtaDownstream"));
  commands_[4]->setToolTip(CaptionTip(kServiceTipDownstream));
  dtaLayout->addWidget(commands_[3]);
  dtaLayout->addWidget(commands_[4]);
  top->addWidget(dtaBox);
  layout->addLayout(top);

  // A group box title takes "&&" for one "&", as the dialog's resource does.
  auto* touchBox = new QGroupBox(tr("Touch && Go"), this);
  auto* touchGrid = new QGridLayout(touchBox);
  const char* names[4] = {"touchGoUpstream", "touchGoUpstreamBackward", "touchGoDownstream",
                          "touchGoDownstreamBackward"};
  for (size_t k = 0; k < 4; ++k) {
    const bool upstream = k < 2;
    const bool backward = k % 2 == 1;
    touchGo_[k] = new QCheckBox(backward   ? tr("Backward")
                                : upstream ? tr("Upstream")
                                           : tr("Downstream"),
                                touchBox);
    touchGo_[k]->setObjectName(QString::fromLatin1(names[k]));
    touchGo_[k]->setToolTip(
        CaptionTip(upstream ? kServiceTipUpstream : kServiceTipDownstream, kServiceTouchGoWarning));
    touchGrid->addWidget(touchGo_[k], upstream ? 0 : 1, backward ? 1 : 0);
    connect(touchGo_[k], &QCheckBox::clicked, this, [this, k](bool ticked) { TouchGo(k, ticked); });
  }
  auto* note = new QLabel(Shown(kServiceNote), touchBox);
  note->setObjectName(QStringLiteral("note"));
  touchGrid->addWidget(note, 2, 0, 1, 2);
  layout->addWidget(touchBox);
  layout->addStretch(1);

  connect(commands_[0], &QPushButton::clicked, this,
          [this] { Command([](SpecialServices& s) { return s.ResetHours(Motor::Left); }); });
  connect(commands_[1], &QPushButton::clicked, this,
          [this] { Command([](SpecialServices& s) { return s.ResetHours(Motor::Right); }); });
  connect(commands_[2], &QPushButton::clicked, this,
          [this] { Command([](SpecialServices& s) { return s.ClearShortCircuit(); }); });
  connect(commands_[3], &QPushButton::clicked, this,
          [this] { Command([](SpecialServices& s) { return s.ResetDta(Zone::Upstream); }); });
  connect(commands_[4], &QPushButton::clicked, this,
          [this] { Command([](SpecialServices& s) { return s.ResetDta(Zone::Downstream); }); });
  Show(shown_);
}

void CServiceDlg::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!refreshed_) {
    refreshed_ = true;
    Refresh();
  }
}

void CServiceDlg::Show(const ServiceView& view) {
  shown_ = view;
  const bool idle = !runner_.Busy();
  hours_->setVisible(view.hoursResetShown);
  for (QPushButton* button : commands_) button->setEnabled(idle && view.connected);
  for (size_t k = 0; k < 4; ++k) {
    touchGo_[k]->setChecked(view.touchGo[k]);
    touchGo_[k]->setEnabled(idle);
  }
  emit viewShown();
}

void CServiceDlg::Refresh() {
  if (runner_.Busy()) return;
  auto core = core_;
  const std::string address = shown_address_;
  runner_.Run([core, address] { return core->services.Refresh(address); },
              [this](const ServiceView& view) { Show(view); });
}

void CServiceDlg::Command(std::function<bool(SpecialServices&)> command) {
  if (runner_.Busy() || !shown_.connected) return;
  auto core = core_;
  runner_.Run(
      [core, command = std::move(command)] {
        const bool sent = command(core->services);
        return std::make_pair(sent, core->services.View());
      },
      [this](const std::pair<bool, ServiceView>& result) {
        Show(result.second);
        // A command the module did not take is told, as the dialogs tell a failed handler.
        if (!result.first) {
          prompt_.TellFailure(base::Format(params::kConnectionLost, shown_address_.c_str()),
                              "Quillmar");
        }
      });
}

void CServiceDlg::TouchGo(size_t box, bool ticked) {
  if (runner_.Busy()) {
    touchGo_[box]->setChecked(shown_.touchGo[box]);
    return;
  }
  auto core = core_;
  const Zone zone = box < 2 ? Zone::Upstream : Zone::Downstream;
  const bool backward = box % 2 == 1;
  runner_.Run(
      [core, zone, backward, ticked] { return core->services.SetTouchGo(zone, backward, ticked); },
      [this](const ServiceView& view) {
        Show(view);
        if (!view.writeFailure.empty()) prompt_.TellFailure(view.writeFailure, "Quillmar");
      });
}

}  // namespace pages
