#include "diag/ui/diagnostic_screen_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "diag/ui/off_gui.h"
#include "diag/ui/qt_text.h"
#include "params/node_screen_controller.h"
#include "params/ui/cmreg_dlg.h"
#include "ui/language_setup.h"

namespace diag {

// The fault marker of a motor: a red disc for overcurrent, an amber one for the other faults,
// nothing without a fault.
class MotorMarker : public QWidget {
 public:
  explicit MotorMarker(QWidget* parent) : QWidget(parent) { setFixedSize(22, 22); }
  void SetMarker(FaultMarker marker) {
    if (marker == marker_) return;
    marker_ = marker;
    update();
  }
  FaultMarker Marker() const { return marker_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (marker_ == FaultMarker::kNone) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(marker_ == FaultMarker::kOvercurrent ? QColor(0xd0, 0x20, 0x20)
                                                          : QColor(0xf0, 0xa0, 0x00));
    painter.drawEllipse(QRectF(2, 2, 18, 18));
    painter.setPen(Qt::white);
    painter.drawText(QRectF(2, 2, 18, 18), Qt::AlignCenter, QStringLiteral("!"));
  }

 private:
  FaultMarker marker_ = FaultMarker::kNone;
};

namespace {

// A text of the diagnostic screen's tables in the language shown.
std::string TableText(std::string_view text) {
  const std::string source(text);
  return base::Translate("DiagnosticScreen", source.c_str());
}

// The module's "\n\r" separators shown as line breaks.
QString Lines(const std::string& text) {
  QString shown = Utf8ToQString(text);
  shown.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  return shown.trimmed();
}

QLabel* ValueLabel(QWidget* parent, const QString& name) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setMinimumWidth(240);
  return label;
}

}  // namespace

DiagnosticScreen::DiagnosticScreen(params::CMRegDlg& screen, QWidget* parent)
    : QDialog(parent), screen_(screen), guard_(std::make_shared<QPointer<QObject>>(this)) {
  setObjectName(QStringLiteral("diagnosticScreen"));
  setWindowTitle(ui::CoreText("DiagnosticScreen", kScreenTitle));
  auto* root = new QVBoxLayout(this);
  unreachable_ = ValueLabel(this, QStringLiteral("unreachable"));
  unreachable_->setStyleSheet(QStringLiteral("color: #c02020; font-weight: bold;"));
  unreachable_->hide();
  root->addWidget(unreachable_);

  body_ = new QWidget(this);
  auto* grid = new QGridLayout(body_);
  grid->setContentsMargins(0, 0, 0, 0);
  static constexpr const char* kZoneShort[2] = {kUpstreamShort, kDownstreamShort};
  static constexpr const char* kZoneTitle[2] = {kUpstreamTitle, kDownstreamTitle};
  static constexpr const char* kZoneKey[2] = {"upstream", "downstream"};
  static constexpr const char* kMotorTitle[2] = {QT_TR_NOOP("Linker Motor"),
                                                 QT_TR_NOOP("Rechter Motor")};
  static constexpr const char* kMotorKey[2] = {"left", "right"};
  for (int z = 0; z < 2; ++z) {
    const QString key = QLatin1String(kZoneKey[z]);
    auto* box = new QGroupBox(
        Lines(kZoneShort[z]) + QStringLiteral(" – ") + Lines(TableText(kZoneTitle[z])), body_);
    box->setObjectName(key);
    auto* form = new QGridLayout(box);
    ZoneLabels& labels = zones_[static_cast<size_t>(z)];
    labels.reason = ValueLabel(box, key + QStringLiteral("Reason"));
    labels.reason->setStyleSheet(QStringLiteral("font-weight: bold;"));
    labels.errors = ValueLabel(box, key + QStringLiteral("Errors"));
    labels.errors->setStyleSheet(QStringLiteral("color: #c02020;"));
    labels.sensor = ValueLabel(box, key + QStringLiteral("Sensor"));
    labels.dirty = ValueLabel(box, key + QStringLiteral("Dirty"));
    int row = 0;
    form->addWidget(new QLabel(tr("Stopp / Stau:"), box), row, 0, Qt::AlignTop);
    form->addWidget(labels.reason, row++, 1);
    form->addWidget(new QLabel(tr("Zonenfehler:"), box), row, 0, Qt::AlignTop);
    form->addWidget(labels.errors, row++, 1);
    form->addWidget(new QLabel(tr("Sensor angeschlossen:"), box), row, 0);
    form->addWidget(labels.sensor, row++, 1);
    form->addWidget(new QLabel(tr("Sensor verschmutzt:"), box), row, 0);
    form->addWidget(labels.dirty, row++, 1);
    form->setRowStretch(row, 1);
    grid->addWidget(box, 0, z);

    const QString motorKey = QLatin1String(kMotorKey[z]);
    auto* motorBox = new QGroupBox(tr(kMotorTitle[z]), body_);

    motorBox->setObjectName(motorKey);
    auto* motorLayout = new QHBoxLayout(motorBox);
    MotorLabels& motor = motors_[static_cast<size_t>(z)];
    motor.marker = new MotorMarker(motorBox);
    motor.marker->setObjectName(motorKey + QStringLiteral("Marker"));
    motor.status = ValueLabel(motorBox, motorKey + QStringLiteral("Status"));
    motor.missing = ValueLabel(motorBox, motorKey + QStringLiteral("Missing"));
    motor.missing->setText(tr("Kein Motor"));
    motor.missing->setStyleSheet(
        QStringLiteral("color: white; background: #707070; padding: 2px 6px;"));
    motor.missing->setMinimumWidth(0);
    motor.missing->hide();
    motorLayout->addWidget(motor.marker, 0, Qt::AlignTop);
    motorLayout->addWidget(motor.missing, 0, Qt::AlignTop);
    motorLayout->addWidget(motor.status, 1);
    grid->addWidget(motorBox, 1, z);
  }
  root->addWidget(body_);
  resize(620, 360);

  connect(&screen_, &params::CMRegDlg::viewShown, this, &DiagnosticScreen::OnNodeScreenView);
  OnNodeScreenView();
}

DiagnosticScreen::~DiagnosticScreen() = default;

void DiagnosticScreen::OnNodeScreenView() {
  const params::NodeScreenView& view = screen_.ShownView();
  if (!view.connected) {
    // The node screen has lost (or not yet found) its module: nothing to read through it.
    if (!anyShown_ || shown_.reachable || shown_.address != view.moduleAddress) {
      Show(UnreachableContent(view.moduleAddress));
    }
    return;
  }
  // One read per pass of the node screen: the views its jobs publish in between ask nothing.
  if (asked_ || (anyShown_ && view.passes == passesAsked_)) return;
  asked_ = true;
  passesAsked_ = view.passes;
  screen_.Worker().Post([guard = guard_, this](params::NodeScreenController& controller) {
    DiagnosticContent content = ReadDiagnosticContent(controller);
    DeliverToGui<DiagnosticContent>(guard, std::move(content), [this](DiagnosticContent read) {
      asked_ = false;
      Show(read);
    });
  });
}

void DiagnosticScreen::Show(const DiagnosticContent& content) {
  LogHiddenReasons(content, anyShown_ ? &shown_ : nullptr);
  // The content keeps the German texts (the event log's); the window shows them translated.
  const base::Language language = base::CurrentLanguage();
  std::string title = content.title;
  if (title.starts_with(std::string_view(kScreenTitle))) {
    title = TableText(kScreenTitle) + title.substr(std::string_view(kScreenTitle).size());
  }
  setWindowTitle(QString::fromStdString(title));
  unreachable_->setVisible(!content.reachable);
  body_->setVisible(content.reachable);
  const bool ownUnreachableText = content.unreachableText == UnreachableText(content.address);
  unreachable_->setText(QString::fromStdString(
      ownUnreachableText ? UnreachableText(content.address, language) : content.unreachableText));
  if (content.reachable) {
    for (size_t z = 0; z < 2; ++z) {
      const ZoneContent& zone = content.zones[z];
      ZoneLabels& labels = zones_[z];
      // Fields whose registers the module refused show "---" (reason and errors carry it).
      const QString unknown = QString::fromLatin1(kUnknownField);
      labels.reason->setText(QString::fromStdString(ShownText(zone.reason.text, language)));
      labels.errors->setText(Lines(ShownText(zone.errorText, language)));
      labels.sensor->setText(
          zone.sensorKnown ? Utf8ToQString(TableText(OnOffText(zone.sensor.connected))) : unknown);
      labels.dirty->setText(zone.sensorKnown
                                ? QStringLiteral("%1 (%2)")
                                      .arg(Utf8ToQString(TableText(OnOffText(zone.sensor.dirty))))
                                      .arg(zone.sensor.dirtCounter)
                                : unknown);
      const MotorStatus& motor = content.motors[z];
      MotorLabels& m = motors_[z];
      m.marker->SetMarker(motor.marker);
      m.missing->setVisible(motor.missing);
      if (!content.motorsKnown[z]) {
        m.status->setText(unknown);
        continue;
      }
      // A drive that is not connected shows the missing marker instead of its status ("OK");
      // its fault texts stay, as they tell why.
      if (!motor.faults.empty()) {
        m.status->setText(Lines(ShownText(motor.faultText, language)));

      } else {
        m.status->setText(motor.missing ? QString() : QStringLiteral("OK"));
      }
    }
  }
  shown_ = content;
  anyShown_ = true;
  emit contentShown();
}

}  // namespace diag
