#include "diag/ui/statistics_dlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdio>
#include <ctime>
#include <memory>

#include "base/format.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "diag/line_health.h"
#include "diag/statistics_reader.h"
#include "diag/ui/off_gui.h"
#include "params/register_map.h"

namespace diag {

namespace {

// Modules of a range read at once.
constexpr unsigned kRangeThreads = 8;

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

template <typename T>
QString Figure(const std::optional<T>& value) {
  return value ? QString::number(*value) : QString::fromLatin1(kNotRead);
}

// Writes `text` to `path`; false when the file cannot be made or written.
bool WriteFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

struct SaveResult {
  std::string path;
  bool written = false;
};

}  // namespace

CDlgDiagnostic::CDlgDiagnostic(Host host, QWidget* parent)
    : QDialog(parent), host_(std::move(host)) {
  setObjectName(QStringLiteral("statistics"));
  setWindowTitle(tr("Diagnose"));
  folder_ = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  chooseName_ = [](QWidget* owner, const QString& proposed) {
    return QFileDialog::getSaveFileName(owner, QString(), proposed, tr("Text file (*.txt)"));
  };
  const int shownModule = host_.module ? host_.module() : 0;
  module_ = shownModule >= kFirstModule && shownModule <= kLastModule ? shownModule : kFirstModule;

  auto* root = new QVBoxLayout(this);
  const auto value = [](QWidget* parent, const char* name) {
    auto* label = new QLabel(QString::fromLatin1(kNotRead), parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
  };

  // The module: network, number with its stepper, Einlesen.
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(tr("Netzwerk:"), this));
  network_ = value(this, "network");
  top->addWidget(network_);
  top->addSpacing(12);
  top->addWidget(new QLabel(tr("Modul Nr.:"), this));
  module_edit_ = new QLineEdit(QString::number(module_), this);
  module_edit_->setObjectName(QStringLiteral("module"));
  module_edit_->setMaximumWidth(60);
  top->addWidget(module_edit_);
  auto* down = new QToolButton(this);
  down->setObjectName(QStringLiteral("down"));
  down->setArrowType(Qt::DownArrow);
  auto* up = new QToolButton(this);
  up->setObjectName(QStringLiteral("up"));
  up->setArrowType(Qt::UpArrow);
  top->addWidget(down);
  top->addWidget(up);
  auto* read = new QPushButton(tr("Einlesen"), this);
  read->setObjectName(QStringLiteral("read"));
  top->addWidget(read);
  top->addStretch(1);
  root->addLayout(top);
  connect(up, &QToolButton::clicked, this, &CDlgDiagnostic::StepUp);
  connect(down, &QToolButton::clicked, this, &CDlgDiagnostic::StepDown);
  connect(read, &QPushButton::clicked, this, &CDlgDiagnostic::Read);
  connect(module_edit_, &QLineEdit::returnPressed, this, &CDlgDiagnostic::ModuleTyped);
  commands_ = {up, down, read, module_edit_};

  // Counters and the last reset, with their resets.
  auto* figures = new QHBoxLayout;
  auto* counters = new QGroupBox(tr("Zähler"), this);
  auto* grid = new QGridLayout(counters);
  static constexpr const char* kRegisterLabels[5] = {
      QT_TR_NOOP("Reset-Zähler nach Spannung < 18V:"),
      QT_TR_NOOP("Reset-Zähler ohne Spannungsabfall:"), QT_TR_NOOP("Quelle letzten Resets:"),
      QT_TR_NOOP("Reconnection Zähler:"), QT_TR_NOOP("Verbindungsaufbau-Timeout-Zähler:")};
  static constexpr const char* kRegisterNames[5] = {"undervoltageResets", "plainResets",
                                                    "lastReset", "reconnects", "timeouts"};
  int row = 0;
  for (size_t k = 0; k < registers_.size(); ++k) {
    grid->addWidget(new QLabel(tr(kRegisterLabels[k]), counters), row, 0);
    registers_[k] = value(counters, kRegisterNames[k]);
    registers_[k]->setWordWrap(true);
    grid->addWidget(registers_[k], row++, 1);
  }
  auto* resetUnder = new QPushButton(tr("Zurücksetzen"), counters);
  resetUnder->setObjectName(QStringLiteral("resetUndervoltage"));
  auto* resetOthers = new QPushButton(tr("Zurücksetzen"), counters);
  resetOthers->setObjectName(QStringLiteral("resetOthers"));
  grid->addWidget(new QLabel(tr("Unterspannungszähler zurücksetzen:"), counters), row, 0);
  grid->addWidget(resetUnder, row++, 1, Qt::AlignLeft);
  grid->addWidget(new QLabel(tr("Rücksetzen aller Zähler bis auf Unterspannung:"), counters), row,
                  0);
  grid->addWidget(resetOthers, row++, 1, Qt::AlignLeft);
  connect(resetUnder, &QPushButton::clicked, this, &CDlgDiagnostic::ResetUndervoltage);
  connect(resetOthers, &QPushButton::clicked, this, &CDlgDiagnostic::ResetOthers);
  commands_.push_back(resetUnder);
  commands_.push_back(resetOthers);
  figures->addWidget(counters, 3);

  // The text port's figures.
  auto* service = new QGroupBox(tr("Modul"), this);
  auto* serviceGrid = new QGridLayout(service);
  row = 0;
  static constexpr const char* kFlashLabels[4] = {
      "numSavedL:", "numSavedH:", "bValidCRC_L:", "bValidCRC_H:"};
  static constexpr const char* kFlashNames[4] = {"numSavedL", "numSavedH", "validCrcL",
                                                 "validCrcH"};
  serviceGrid->addWidget(new QLabel(tr("Replace Info Save Counters"), service), row++, 0, 1, 2);
  for (size_t k = 0; k < flash_.size(); ++k) {
    serviceGrid->addWidget(new QLabel(QString::fromLatin1(kFlashLabels[k]), service), row, 0);
    flash_[k] = value(service, kFlashNames[k]);
    serviceGrid->addWidget(flash_[k], row++, 1);
  }
  serviceGrid->addWidget(new QLabel(tr("CPU Load, [%]"), service), row++, 0, 1, 2);
  static constexpr const char* kCpuLabels[3] = {QT_TR_NOOP("Min:"), QT_TR_NOOP("Max:"),
                                                QT_TR_NOOP("Average:")};
  static constexpr const char* kCpuNames[3] = {"cpuMin", "cpuMax", "cpuAverage"};
  for (size_t k = 0; k < cpu_.size(); ++k) {
    serviceGrid->addWidget(new QLabel(tr(kCpuLabels[k]), service), row, 0);

    cpu_[k] = value(service, kCpuNames[k]);
    serviceGrid->addWidget(cpu_[k], row++, 1);
  }
  serviceGrid->addWidget(new QLabel(tr("Free Memory, [Bytes]:"), service), row, 0);
  memory_ = value(service, "freeMemory");
  serviceGrid->addWidget(memory_, row++, 1);
  serviceGrid->addWidget(new QLabel(tr("Firmware revision:"), service), row, 0);
  firmware_ = value(service, "firmware");
  firmware_->setWordWrap(true);
  serviceGrid->addWidget(firmware_, row++, 1);
  figures->addWidget(service, 2);
  root->addLayout(figures);

  // The statistics text as the files hold it.
  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("text"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setMinimumHeight(160);
  root->addWidget(text_, 1);

  // Saving.
  auto* save = new QGridLayout;
  auto* saveOne = new QPushButton(tr("Save to File"), this);
  saveOne->setObjectName(QStringLiteral("save"));
  // "&&" shows one "&"; the resource's "\r\n" is a line break.
  auto* saveRange = new QPushButton(tr("GetRange &&\nSave to File"), this);
  saveRange->setObjectName(QStringLiteral("saveRange"));
  from_ = new QLineEdit(this);
  from_->setObjectName(QStringLiteral("from"));
  from_->setMaximumWidth(60);
  to_ = new QLineEdit(this);
  to_->setObjectName(QStringLiteral("to"));
  to_->setMaximumWidth(60);
  lastFile_ = new QLabel(this);
  lastFile_->setObjectName(QStringLiteral("lastFile"));
  lastRange_ = new QLabel(this);
  lastRange_->setObjectName(QStringLiteral("lastRange"));
  save->addWidget(saveOne, 0, 0);
  save->addWidget(new QLabel(tr("Letzte gespeicherte Datei:"), this), 0, 1);
  save->addWidget(lastFile_, 0, 2, 1, 5);
  save->addWidget(saveRange, 1, 0);
  save->addWidget(new QLabel(tr("von:"), this), 1, 1);
  save->addWidget(from_, 1, 2);
  save->addWidget(new QLabel(tr("bis:"), this), 1, 3);
  save->addWidget(to_, 1, 4);
  save->addWidget(new QLabel(tr("Letzter gespeicherter Datenbereich:"), this), 1, 5);
  save->addWidget(lastRange_, 1, 6);
  save->setColumnStretch(6, 1);
  root->addLayout(save);
  connect(saveOne, &QPushButton::clicked, this, &CDlgDiagnostic::SaveToFile);
  connect(saveRange, &QPushButton::clicked, this, &CDlgDiagnostic::SaveRange);
  commands_.push_back(saveOne);
  commands_.push_back(saveRange);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  root->addWidget(status_);

  uint8_t network[3];
  if (NetworkBytes(network)) network_->setText(Q(NetworkText(network)));
  resize(760, 640);
  Read();
}

bool CDlgDiagnostic::NetworkBytes(uint8_t (&network)[3]) const {
  const std::string text = host_.network ? host_.network() : std::string();
  unsigned a = 0, b = 0, c = 0, d = 0;
  char end = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) != 4 || a > 255 || b > 255 ||
      c > 255) {
    return false;
  }
  network[0] = static_cast<uint8_t>(a);
  network[1] = static_cast<uint8_t>(b);
  network[2] = static_cast<uint8_t>(c);
  return true;
}

std::string CDlgDiagnostic::ModuleAddress(int module) const {
  uint8_t network[3];
  if (!NetworkBytes(network)) return std::string();
  return base::Format("%u.%u.%u.%d", network[0], network[1], network[2],
                      module + kModuleHostOffset);
}

void CDlgDiagnostic::SetBusy(bool busy) {
  busy_ = busy;
  for (QWidget* command : commands_) command->setEnabled(!busy);
  if (busy) status_->setText(tr("Lese Modul %1 …").arg(module_));
}

void CDlgDiagnostic::Read() {
  if (busy_) return;
  uint8_t network[3];
  if (NetworkBytes(network)) network_->setText(Q(NetworkText(network)));
  const std::string address = ModuleAddress(module_);
  SetBusy(true);
  RunOffGui<std::optional<ModuleStatistics>>(
      this, [address] { return ReadModuleStatistics(address); },
      [this](std::optional<ModuleStatistics> figures) {
        SetBusy(false);
        Show(figures);
      });
}

void CDlgDiagnostic::Show(const std::optional<ModuleStatistics>& figures) {
  figures_ = figures;
  const QString none = QString::fromLatin1(kNotRead);
  if (!figures) {
    // A module that does not answer leaves "---" in every field.
    for (QLabel* label : registers_) label->setText(none);
    for (QLabel* label : flash_) label->setText(none);
    for (QLabel* label : cpu_) label->setText(none);
    memory_->setText(none);
    firmware_->setText(none);
    text_->setPlainText(tr("Read Error!"));
    status_->setText(tr("Modul %1 antwortet nicht.").arg(module_));
  } else {
    const ModuleStatistics& s = *figures;
    registers_[0]->setText(Figure(s.undervoltageResets));
    registers_[1]->setText(Figure(s.plainResets));
    registers_[2]->setText(s.lastReset ? Q(*s.lastReset) : none);
    registers_[3]->setText(Figure(s.reconnects));
    registers_[4]->setText(Figure(s.responseTimeouts));
    const FlashSaveCounters flash = ParseFlashSaveCounters(s.flashCounters);
    flash_[0]->setText(Figure(flash.numSavedL));
    flash_[1]->setText(Figure(flash.numSavedH));
    flash_[2]->setText(Figure(flash.validCrcL));
    flash_[3]->setText(Figure(flash.validCrcH));
    if (s.cpuLoad) {
      cpu_[0]->setText(QString::number(s.cpuLoad->minimum));
      cpu_[1]->setText(QString::number(s.cpuLoad->maximum));
      cpu_[2]->setText(Q(AverageText(s.cpuLoad->average)));
    } else {
      for (QLabel* label : cpu_) label->setText(none);
    }
    memory_->setText(Q(s.freeMemory));
    firmware_->setText(s.firmwareRevision.empty() ? none : Q(s.firmwareRevision).trimmed());
    QString text = Q(StatisticsText(s));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text_->setPlainText(text);
    status_->setText(tr("Modul %1 (%2) gelesen.").arg(module_).arg(Q(s.address)));
  }
  ++readsShown_;
  emit figuresShown();
}

void CDlgDiagnostic::StepTo(int module) {
  if (busy_) return;
  if (module < kFirstModule || module > kLastModule) {
    // Outside 1 to 236: refused, the module stays.
    QApplication::beep();
    module_edit_->setText(QString::number(module_));
    return;
  }
  module_ = module;
  module_edit_->setText(QString::number(module_));
  if (host_.readdress) host_.readdress(module_);
  Read();
}

void CDlgDiagnostic::StepUp() {
  StepTo(module_ + 1);
}

void CDlgDiagnostic::StepDown() {
  StepTo(module_ - 1);
}

void CDlgDiagnostic::ModuleTyped() {
  const std::optional<int> typed = ParseModuleNumber(module_edit_->text().toStdString());
  if (!typed) {
    // Not a plain number from 1 to 236: refused, the module stays.
    QApplication::beep();
    module_edit_->setText(QString::number(module_));
    return;
  }
  StepTo(*typed);
}

void CDlgDiagnostic::ReportSaveFailure(const QString& path) {
  // The event log keeps the untranslated text; the window shows it in the chosen language.
  const std::string logged = base::Format("Can't create file %s!", path.toStdString().c_str());
  LogError("CDlgDiagnostic::SaveToFile - %s", logged.c_str());
  const QString text = tr("Can't create file %1!").arg(path);
  status_->setText(text);
  auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  emit saveFailed(text);
}

void CDlgDiagnostic::SaveToFile() {
  if (busy_) return;
  const std::string address = ModuleAddress(module_);
  uint8_t network[3];
  if (!NetworkBytes(network)) return;
  const std::tm now = LocalNow();
  const uint8_t bytes[4] = {network[0], network[1], network[2],
                            static_cast<uint8_t>(module_ + kModuleHostOffset)};
  const QString proposed = Q(StatisticsFileName(folder_.toStdString(), bytes, now));
  const QString path = chooseName_(this, proposed);
  if (path.isEmpty()) return;
  SetBusy(true);
  const std::string file = path.toStdString();
  RunOffGui<SaveResult>(
      this,
      [address, file, now] {
        SaveResult result{file, false};
        // The figures are read again for the file, so that it holds this moment's values.
        const std::optional<std::string> text = ReadStatisticsText(address);
        result.written = WriteFile(
            file, StatisticsTimeLine(now) + text.value_or(std::string("\r\nRead Error!\r\n")));
        return result;
      },
      [this](SaveResult result) {
        SetBusy(false);
        if (!result.written) {
          ReportSaveFailure(Q(result.path));
          return;
        }
        lastFile_->setText(Q(result.path));
        status_->setText(tr("Gespeichert: %1").arg(Q(result.path)));
        emit fileSaved(Q(result.path));
      });
}

void CDlgDiagnostic::SaveRange() {
  if (busy_) return;
  const std::optional<int> from = ParseModuleNumber(from_->text().toStdString());
  const std::optional<int> to = ParseModuleNumber(to_->text().toStdString());
  uint8_t network[3];
  if (!from || !to || *from > *to || !NetworkBytes(network)) {
    QApplication::beep();
    status_->setText(tr("Ungültiger Bereich."));
    return;
  }
  const std::vector<int> hosts = RangeHostAddresses(*from, *to);
  const std::tm now = LocalNow();
  const uint8_t first[4] = {network[0], network[1], network[2],
                            static_cast<uint8_t>(hosts.front())};
  const uint8_t last[4] = {network[0], network[1], network[2], static_cast<uint8_t>(hosts.back())};
  const QString proposed = Q(StatisticsRangeFileName(folder_.toStdString(), first, last, now));
  const QString path = chooseName_(this, proposed);
  if (path.isEmpty()) return;
  std::vector<std::string> addresses;
  for (const int host : hosts) {
    addresses.push_back(base::Format("%u.%u.%u.%d", network[0], network[1], network[2], host));
  }
  SetBusy(true);
  status_->setText(tr("Lese Module %1 bis %2 …").arg(*from).arg(*to));
  const std::string file = path.toStdString();
  RunOffGui<SaveResult>(
      this,
      [addresses, file, now] {
        const auto texts = ForEachModule<std::optional<std::string>>(
            addresses, kRangeThreads,
            [](const std::string& address) { return ReadStatisticsText(address); });
        return SaveResult{file, WriteFile(file, StatisticsRangeText(now, texts))};
      },
      [this](SaveResult result) {
        SetBusy(false);
        if (!result.written) {
          ReportSaveFailure(Q(result.path));
          return;
        }
        lastRange_->setText(Q(result.path));
        status_->setText(tr("Gespeichert: %1").arg(Q(result.path)));
        emit fileSaved(Q(result.path));
      });
}

void CDlgDiagnostic::ResetCounters(int which) {
  if (busy_) return;
  const std::string address = ModuleAddress(module_);
  const CounterReset reset = which == 0 ? CounterReset::kUndervoltage : CounterReset::kOthers;
  SetBusy(true);
  RunOffGui<bool>(
      this,
      [address, reset] {
        CBlockingSocket client;
        try {
          if (client._Connect(address, CBlockingSocket::kModbusPort, true) != 1) return false;
        } catch (const CBlockingSocketException&) {
          return false;
        }
        params::ClientRegisterAccess access(client);
        params::RegisterMap map(access);
        const bool done = diag::ResetCounters(map, reset);
        if (done) {
          LogInfo("CDlgDiagnostic: counters of %s reset (%s)", address.c_str(),
                  reset == CounterReset::kUndervoltage ? "undervoltage" : "all but undervoltage");
        } else {
          LogError("CDlgDiagnostic::OnReset - %s ERROR !", address.c_str());
        }
        return done;
      },
      [this, address](bool done) {
        SetBusy(false);
        if (!done) {
          status_->setText(tr("Connection to the module \"%1\" is lost !").arg(Q(address)));

          return;
        }
        Read();
      });
}

void CDlgDiagnostic::ResetUndervoltage() {
  ResetCounters(0);
}

void CDlgDiagnostic::ResetOthers() {
  ResetCounters(1);
}

}  // namespace diag
