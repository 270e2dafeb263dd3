#include "config/ui/dlg_connections.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "base/format.h"
#include "config/module_registers.h"
#include "params/node_screen_controller.h"
#include "params/ui/cmreg_dlg.h"
#include "ui/time_left.h"

namespace config {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// Runs `work` on the GUI thread later, if `target` still exists then.
template <typename Target, typename Work>
void Later(QPointer<Target> target, Work work) {
  QMetaObject::invokeMethod(
      qApp,
      [target, work]() mutable {
        if (target) work(*target);
      },
      Qt::QueuedConnection);
}

// Progress of work on the node screen's worker, shown on the dialog's bar.
class BarProgress : public base::Progress {
 public:
  explicit BarProgress(QPointer<QProgressBar> bar) : bar_(std::move(bar)) {}
  void SetRange(int total) override {
    Later(bar_, [total](QProgressBar& bar) { bar.setRange(0, total); });
  }
  void SetPosition(int done) override {
    Later(bar_, [done](QProgressBar& bar) { bar.setValue(done); });
  }

 private:
  QPointer<QProgressBar> bar_;
};

ConnectionsShown ReadShown(params::NodeScreenController& controller,
                           const CDlgConnections::Hooks& hooks) {
  ConnectionsShown shown;
  shown.address = controller.View().moduleAddress;
  if (hooks.maskFor && !shown.address.empty()) shown.mask = hooks.maskFor(shown.address);
  shown.node = controller.Node();
  if (shown.address.empty() || !controller.Connected()) return shown;
  MapModuleRegisters module(controller.Map());
  const auto view = ReadConnectionView(module);
  if (!view) return shown;
  shown.read = true;
  shown.register6 = view->variant;
  shown.mode = view->mode;
  shown.upstream = view->upstream;
  shown.downstream = view->downstream;
  shown.outputs = view->outputs;
  return shown;
}

// After a restart the module has closed its connections: the screen connects again and reads
// it whole.
void Reread(params::NodeScreenController& controller) {
  controller.RequestFullRead();
  if (controller.ConnectTo(controller.Node())) controller.OnTimer();
}

ConnectionServices ServicesOn(params::NodeScreenController& controller, base::Progress& progress,
                              const CDlgConnections::Hooks& hooks) {
  ConnectionServices services;
  services.prompt = &controller.prompt();
  services.progress = &progress;
  services.upload = [&controller](const std::string& ip, const std::string& family,
                                  const ConnectionSettings& settings, base::Progress& bar) {
    return UploadForSettings(ip, family, settings, bar, controller.prompt());
  };
  services.readLock = hooks.readLock;
  services.reread = [&controller] { Reread(controller); };
  return services;
}

void FillNodes(QComboBox* combo) {
  for (int node = 0; node <= 236; ++node) combo->addItem(QString::number(node));
}

}  // namespace

CDlgConnections::CDlgConnections(params::CMRegDlg& screen, Hooks hooks, QWidget* parent)
    : QDialog(parent), screen_(screen), hooks_(std::move(hooks)) {
  setObjectName(QStringLiteral("CDlgConnections"));
  setWindowTitle(tr("Verbindungen"));
  Build();
  Sync();
  ReadModule();
}

void CDlgConnections::Build() {
  auto* root = new QVBoxLayout(this);
  auto named = [](QWidget* widget, int id) {
    widget->setObjectName(QStringLiteral("ctl%1").arg(id));
    return widget;
  };

  // The selected module.
  auto* module = new QGridLayout;
  node_ = new QLabel(this);
  address_ = new QLabel(this);
  mask_ = new QLabel(this);
  named(node_, 1037);
  named(address_, 1186);
  named(mask_, 1187);
  module->addWidget(new QLabel(tr("Knoten #"), this), 0, 0);
  module->addWidget(node_, 0, 1);
  module->addWidget(new QLabel(tr("IP Adresse:"), this), 0, 2);
  module->addWidget(address_, 0, 3);
  module->addWidget(new QLabel(tr("Subnetzmaske:"), this), 0, 4);
  module->addWidget(mask_, 0, 5);
  root->addLayout(module);

  // Upstream and downstream, by node number or by address.
  auto* links = new QGridLayout;
  auto addSide = [&](Side& side, const QString& title, int row, int ids[4], const QString& tip) {
    auto* label = new QLabel(title, this);
    side.byNode = new QRadioButton(tr("Knoten #"), this);
    side.byAddress = new QRadioButton(tr("IP Adresse:"), this);
    side.node = new QComboBox(this);
    side.address = new QLineEdit(this);
    named(side.byNode, ids[0]);
    named(side.byAddress, ids[1]);
    named(side.node, ids[2]);
    named(side.address, ids[3]);
    side.address->setInputMask(QString());
    side.address->setPlaceholderText(QStringLiteral("0.0.0.0"));
    FillNodes(side.node);
    auto* group = new QButtonGroup(this);
    group->addButton(side.byNode);
    group->addButton(side.byAddress);
    side.byNode->setChecked(true);
    for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(side.byNode),
                       static_cast<QWidget*>(side.byAddress), static_cast<QWidget*>(side.node),
                       static_cast<QWidget*>(side.address)})
      w->setToolTip(tip);
    links->addWidget(label, row, 0);
    links->addWidget(side.byNode, row, 1);
    links->addWidget(side.node, row, 2);
    links->addWidget(side.byAddress, row, 3);
    links->addWidget(side.address, row, 4);
    for (QObject* w : {static_cast<QObject*>(side.byNode), static_cast<QObject*>(side.byAddress)})
      connect(static_cast<QRadioButton*>(w), &QRadioButton::toggled, this, [this] { Collect(); });
    connect(side.node, &QComboBox::currentIndexChanged, this, [this] { Collect(); });
    connect(side.address, &QLineEdit::textChanged, this, [this] { Collect(); });
  };
  int upIds[4] = {1180, 1181, 1035, 1182};
  int downIds[4] = {1183, 1184, 1036, 1185};
  addSide(up_, tr("Vorgelagert"), 0, upIds,
          tr("Das vorgelagerte Modul: Knotennummer im selben Subnetz oder IP Adresse in einem "
             "anderen Subnetz. 0 bedeutet kein Modul."));
  addSide(down_, tr("Nachgelagert"), 1, downIds,
          tr("Das nachgelagerte Modul: Knotennummer im selben Subnetz oder IP Adresse in einem "
             "anderen Subnetz. 0 bedeutet kein Modul."));
  root->addLayout(links);

  // Modes.
  auto* modes = new QGridLayout;
  auto box = [&](const QString& text, int id, const QString& tip) {
    auto* check = new QCheckBox(text, this);
    named(check, id);
    check->setToolTip(tip);
    return check;
  };
  plcIo_ =
      box(tr("SPS I/O Modus"), 1188,
          tr("Ist dieser Haken gesetzt arbeitet das Modul im SPS (PLC) Modus. Achtung: Diese "
             "Einstellung kann nur durch eine erneute Autokonfiguration zurückgesetz werden."));
  hardware_ = box(tr("Hardware gesteuert"), 1194,
                  tr("Ist der Haken gesetzt, wird das Modul aussschliesslich mit I/O gesteuert. "
                     "Saemtliche innere Logik ist ausgeschaltet"));
  slave_ = box(tr("Slave:"), 1190,
               tr("Ist dieser Haken gesetzt, arbeitet das Modul als Slave seines Nachbarn."));
  pallet_ = box(tr("Pallet Roller"), 1200, tr("Palettenmodus"));
  pallet_->hide();
  transparent_ = box(tr("Transparent"), 1201,
                     tr("Ist dieser Haken gesetzt, reicht das Modul die Verbindungen seiner "
                        "Nachbarn transparent weiter."));
  clear_ = box(tr("Verbindungen zurücksetzen"), 1189,
               tr("Ist dieser Haken gesetzt, werden alle bestehenden logischen Verbindungen des "
                  "Moduls zu vor- und nachgelagerten Modulen getrennt."));
  pushPullLeft_ = box(tr("Öffner/Schließer Sensor links"), 1572,
                      tr("Sensor links als Öffner/Schließer (Push/Pull) Sensor."));
  pushPullRight_ = box(tr("Öffner/Schließer Sensor rechts"), 1573,
                       tr("Sensor rechts als Öffner/Schließer (Push/Pull) Sensor."));
  modes->addWidget(plcIo_, 0, 0);
  modes->addWidget(hardware_, 0, 1);
  modes->addWidget(slave_, 0, 2);
  modes->addWidget(transparent_, 1, 0);
  modes->addWidget(clear_, 1, 1);
  modes->addWidget(pushPullLeft_, 2, 0);
  modes->addWidget(pushPullRight_, 2, 1);
  root->addLayout(modes);
  connect(plcIo_, &QCheckBox::toggled, this, [this](bool on) {
    if (syncing_) return;
    Collect();
    choices_.TickPlcIo(on);
    Sync();
  });
  connect(hardware_, &QCheckBox::toggled, this, [this](bool on) {
    if (syncing_) return;
    Collect();
    choices_.TickHardware(on);
    Sync();
  });
  connect(slave_, &QCheckBox::toggled, this, [this](bool on) {
    if (syncing_) return;
    Collect();
    choices_.TickSlave(on);
    Sync();
  });
  connect(pallet_, &QCheckBox::toggled, this, [this](bool on) {
    if (syncing_) return;
    Collect();
    choices_.TickPallet(on);
    Sync();
  });
  connect(transparent_, &QCheckBox::toggled, this, [this](bool on) {
    if (syncing_) return;
    Collect();
    choices_.TickTransparent(on);
    Sync();
  });
  connect(clear_, &QCheckBox::toggled, this, [this](bool on) {
    if (syncing_) return;
    Collect();
    choices_.TickClear(on);
    Sync();
  });

  auto* outputsRow = new QHBoxLayout;
  auto* outputsLabel = new QLabel(tr("Motor und Ausgaenge bei Trennung von SPS:"), this);
  outputs_ = new QComboBox(this);
  named(outputs_, 1361);
  outputs_->addItem(tr("Unverändert"));
  outputs_->addItem(tr("Alle abschalten"));
  const QString outputsTip =
      tr("Was Motoren und Ausgänge tun, wenn die Verbindung zur SPS getrennt wird.");
  outputs_->setToolTip(outputsTip);
  outputsLabel->setToolTip(outputsTip);
  outputsRow->addWidget(outputsLabel);
  outputsRow->addWidget(outputs_);
  root->addLayout(outputsRow);
  connect(outputs_, &QComboBox::currentIndexChanged, this, [this] { Collect(); });

  // Accumulation control.
  auto* accumulation = new QGroupBox(tr("Accumulation Control"), this);
  auto* acc = new QGridLayout(accumulation);
  accumulation_.byNode = new QRadioButton(tr("Knoten #"), accumulation);
  accumulation_.byAddress = new QRadioButton(tr("IP Adresse:"), accumulation);
  accumulation_.node = new QComboBox(accumulation);
  accumulation_.address = new QLineEdit(accumulation);
  named(accumulation_.byNode, 1191);
  named(accumulation_.byAddress, 1192);
  named(accumulation_.node, 1040);
  named(accumulation_.address, 1193);
  FillNodes(accumulation_.node);
  accumulation_.byNode->setChecked(true);
  auto* accGroup = new QButtonGroup(accumulation);
  accGroup->addButton(accumulation_.byNode);
  accGroup->addButton(accumulation_.byAddress);
  fromZone_ = new QComboBox(accumulation);
  toZone_ = new QComboBox(accumulation);
  named(fromZone_, 1042);
  named(toZone_, 1041);
  for (QComboBox* zones : {fromZone_, toZone_}) {
    zones->addItem(tr("Zone 1"));
    zones->addItem(tr("Zone 2"));
    zones->setCurrentIndex(-1);
    connect(zones, &QComboBox::currentIndexChanged, this, [this] { Collect(); });
  }
  accumulation->setToolTip(
      tr("Das Modul, das den Stau dieses Moduls steuert, mit seiner ersten und letzten Zone "
         "(nur in den Stausteuerungs-Modi)."));
  acc->addWidget(accumulation_.byNode, 0, 0);
  acc->addWidget(accumulation_.node, 0, 1);
  acc->addWidget(accumulation_.byAddress, 0, 2);
  acc->addWidget(accumulation_.address, 0, 3);
  acc->addWidget(new QLabel(tr("From Zone:"), accumulation), 1, 0);
  acc->addWidget(fromZone_, 1, 1);
  acc->addWidget(new QLabel(tr("To Zone:"), accumulation), 1, 2);
  acc->addWidget(toZone_, 1, 3);
  root->addWidget(accumulation);
  connect(accumulation_.node, &QComboBox::currentIndexChanged, this, [this] { Collect(); });
  connect(accumulation_.address, &QLineEdit::textChanged, this, [this] { Collect(); });
  connect(accumulation_.byAddress, &QRadioButton::toggled, this, [this] { Collect(); });

  // PLC program (shown with Shift+Alt+E), lock, delete.
  auto* plc = new QGridLayout;
  plcLabel_ = new QLabel(tr("SPS Programm:"), this);
  named(plcLabel_, 1532);
  plcFile_ = new QLineEdit(this);
  named(plcFile_, 1533);
  browse_ = new QPushButton(QStringLiteral("..."), this);
  named(browse_, 1534);
  lock_ = box(tr("Blockierung SPS Modus"), 1574,
              tr("Ist dieser Haken gesetzt, wird der SPS Modus des Moduls blockiert."));
  deletePlc_ = box(tr("SPS Programm löschen"), 1665,
                   tr("Ist dieser Haken gesetzt, wird das SPS Programm des Moduls gelöscht."));
  const QString plcTip = tr("Das SPS Programm (PLCDATA_*.bin), das in das Modul geladen wird.");
  for (QWidget* w : {static_cast<QWidget*>(plcLabel_), static_cast<QWidget*>(plcFile_),
                     static_cast<QWidget*>(browse_)})
    w->setToolTip(plcTip);
  plc->addWidget(plcLabel_, 0, 0);
  plc->addWidget(plcFile_, 0, 1);
  plc->addWidget(browse_, 0, 2);
  plc->addWidget(lock_, 1, 0);
  plc->addWidget(deletePlc_, 1, 1);
  root->addLayout(plc);
  for (QWidget* w : {static_cast<QWidget*>(plcLabel_), static_cast<QWidget*>(plcFile_),
                     static_cast<QWidget*>(browse_), static_cast<QWidget*>(deletePlc_)})
    w->hide();
  connect(browse_, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, tr("SPS Programm"), plcFile_->text(),
                                                      tr("BIN Files (*.bin)"));
    if (!path.isEmpty()) plcFile_->setText(path);
  });
  connect(plcFile_, &QLineEdit::textChanged, this, [this] { Collect(); });
  connect(lock_, &QCheckBox::toggled, this, [this] { Collect(); });
  connect(deletePlc_, &QCheckBox::toggled, this, [this] { Collect(); });

  progress_ = new QProgressBar(this);
  named(progress_, 1535);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  ui::ShowTimeLeft(progress_);
  root->addWidget(progress_);

  auto* buttons = new QHBoxLayout;
  apply_ = new QPushButton(tr("Anwenden"), this);
  applyAll_ = new QPushButton(tr("Alle anwenden"), this);
  named(apply_, 1178);
  named(applyAll_, 1195);
  apply_->setToolTip(tr("Speichert alle gemachten Änderungen im ausgewählten Modul"));
  applyAll_->setToolTip(
      tr("Speichert alle gemachten Änderungen in allen Modulen in der \"ausgewählten "
         "Gerätebox\""));
  buttons->addStretch(1);
  buttons->addWidget(apply_);
  buttons->addWidget(applyAll_);
  root->addLayout(buttons);
  root->addStretch(1);
  connect(apply_, &QPushButton::clicked, this, &CDlgConnections::Apply);
  connect(applyAll_, &QPushButton::clicked, this, &CDlgConnections::ApplyAllModules);

  auto* shortcut = new QShortcut(QKeySequence(Qt::SHIFT | Qt::ALT | Qt::Key_E), this);
  shortcut->setContext(Qt::WidgetWithChildrenShortcut);
  connect(shortcut, &QShortcut::activated, this, &CDlgConnections::ShowPlcControls);
}

void CDlgConnections::ShowPlcControls() {
  for (QWidget* w : {static_cast<QWidget*>(plcLabel_), static_cast<QWidget*>(plcFile_),
                     static_cast<QWidget*>(browse_), static_cast<QWidget*>(deletePlc_)})
    w->show();
  update();
}

void CDlgConnections::Sync() {
  syncing_ = true;
  const ConnectionSettings& s = choices_.settings();
  plcIo_->setChecked(s.plcIo);
  hardware_->setChecked(s.hardware);
  slave_->setChecked(s.slave);
  pallet_->setChecked(s.pallet);
  transparent_->setChecked(s.transparent);
  clear_->setChecked(s.clear);
  const std::pair<Side*, const LinkChoice*> sides[] = {{&up_, &s.upstream},
                                                       {&down_, &s.downstream}};
  for (const auto& [side, choice] : sides) {
    side->byAddress->setChecked(choice->byAddress);
    side->byNode->setChecked(!choice->byAddress);
    side->node->setCurrentIndex(choice->node);
    side->address->setText(Q(choice->address));
  }
  const bool plc = choices_.PlcControlsEnabled();
  for (QWidget* w : {static_cast<QWidget*>(outputs_), static_cast<QWidget*>(lock_),
                     static_cast<QWidget*>(plcFile_), static_cast<QWidget*>(browse_),
                     static_cast<QWidget*>(deletePlc_)})
    w->setEnabled(plc && !busy_);
  syncing_ = false;
}

void CDlgConnections::Collect() {
  if (syncing_ || !apply_) return;  // not while the widgets are being set or built
  ConnectionSettings& s = choices_.settings();
  const std::pair<Side*, LinkChoice*> sides[] = {
      {&up_, &s.upstream}, {&down_, &s.downstream}, {&accumulation_, &s.accumulation}};
  for (const auto& [side, choice] : sides) {
    choice->byAddress = side->byAddress->isChecked();
    choice->node = std::max(0, side->node->currentIndex());
    choice->address = side->address->text().trimmed().toStdString();
  }
  s.outputs = std::max(0, outputs_->currentIndex());
  s.fromZone = fromZone_->currentIndex();
  s.toZone = toZone_->currentIndex();
  s.pushPullLeft = pushPullLeft_->isChecked();
  s.pushPullRight = pushPullRight_->isChecked();
  s.plcFile = plcFile_->text().trimmed().toStdString();
  s.lockPlc = lock_->isChecked();
  s.deletePlc = deletePlc_->isChecked();
}

void CDlgConnections::ReadModule() {
  QPointer<CDlgConnections> self(this);
  screen_.Worker().Post([self, hooks = hooks_](params::NodeScreenController& controller) {
    const ConnectionsShown shown = ReadShown(controller, hooks);
    Later(self, [shown](CDlgConnections& dialog) { dialog.ShowRead(shown); });
  });
}

void CDlgConnections::ShowRead(const ConnectionsShown& shown) {
  shown_ = shown;
  node_->setText(shown.node > 0 ? QString::number(shown.node) : QString());
  address_->setText(Q(shown.address));
  mask_->setText(Q(shown.mask));
  if (shown.read) {
    ConnectionSettings& s = choices_.settings();
    // The links as the module holds them: node numbers in its own subnet, else addresses.
    const std::pair<const Descriptor*, LinkChoice*> sides[] = {{&shown.upstream, &s.upstream},
                                                               {&shown.downstream, &s.downstream}};
    const auto own = ParseIpv4(shown.address);
    for (const auto& [descriptor, choice] : sides) {
      *choice = LinkChoice{};
      const std::string linked = DescriptorAddress(*descriptor);
      const auto bytes = ParseIpv4(linked);
      if (bytes && own && (*bytes)[0] == (*own)[0] && (*bytes)[1] == (*own)[1] &&
          (*bytes)[2] == (*own)[2] && (*bytes)[3] >= 20) {
        choice->node = (*bytes)[3] - 19;
      } else if (bytes) {
        choice->byAddress = true;
        choice->address = linked;
      }
    }
    const uint16_t family = shown.register6 & 0xF0;
    const bool plcFamily = family == 0x20 || family == 0xC0;
    // The module's present mode ticks its box (the families of PLC modules always PLC I/O).
    s.plcIo = plcFamily || shown.mode == mode::kPlcIo;
    s.hardware = !s.plcIo && shown.mode == mode::kHardware;
    s.slave = !s.plcIo && shown.mode == mode::kSlave;
    s.pallet = !s.plcIo && shown.mode == mode::kPallet;
    s.clear = false;
    s.transparent = false;
    choices_.SetPlcControlsEnabled(s.plcIo);
    outputs_->setCurrentIndex(shown.outputs == kAllOff ? 1 : 0);
    const bool accumulation =
        shown.mode == mode::kAccumulation3 || shown.mode == mode::kAccumulation4;
    for (QWidget* w :
         {static_cast<QWidget*>(accumulation_.byNode), static_cast<QWidget*>(accumulation_.node),
          static_cast<QWidget*>(accumulation_.byAddress),
          static_cast<QWidget*>(accumulation_.address), static_cast<QWidget*>(fromZone_),
          static_cast<QWidget*>(toZone_)})
      w->setEnabled(accumulation);
  }
  Sync();
  emit moduleRead();
}

void CDlgConnections::SetBusy(bool busy) {
  busy_ = busy;
  apply_->setEnabled(!busy);
  applyAll_->setEnabled(!busy);
  if (busy) progress_->setValue(0);
  Sync();
}

void CDlgConnections::Apply() {
  if (busy_) return;
  Collect();
  const ConnectionSettings settings = choices_.settings();
  SetBusy(true);
  ++applies_;
  QPointer<CDlgConnections> self(this);
  QPointer<QProgressBar> bar(progress_);
  const Hooks hooks = hooks_;
  screen_.Worker().Post(
      [self, bar, hooks, settings](params::NodeScreenController& controller) {
        BarProgress progress(bar);
        ConnectionServices services = ServicesOn(controller, progress, hooks);
        const std::string ip = controller.View().moduleAddress;
        if (ip.empty() || !controller.Connected()) {
          controller.prompt().Tell(base::Format(kLostText, ip.c_str()), "Quillmar",
                                   base::PromptIcon::Error);
        } else {
          MapModuleRegisters module(controller.Map());
          ApplyConnections(module, ip, settings, services);
        }
        const ConnectionsShown shown = ReadShown(controller, hooks);
        Later(self, [shown](CDlgConnections& dialog) {
          dialog.SetBusy(false);
          dialog.ShowRead(shown);
          emit dialog.applyEnded();
        });
      },
      true);
}

void CDlgConnections::ApplyAllModules() {
  if (busy_) return;
  Collect();
  const ConnectionSettings settings = choices_.settings();
  SetBusy(true);
  ++applies_;
  QPointer<CDlgConnections> self(this);
  QPointer<QProgressBar> bar(progress_);
  const Hooks hooks = hooks_;
  screen_.Worker().Post(
      [self, bar, hooks, settings](params::NodeScreenController& controller) {
        BarProgress progress(bar);
        ConnectionServices services = ServicesOn(controller, progress, hooks);
        // The range of the node screen: From..To, or From alone.
        const int from = std::atoi(controller.FromText().c_str());
        int to = std::atoi(controller.ToText().c_str());
        if (to < from) to = from;
        std::vector<std::string> ips;
        for (int node = std::max(from, 1); node <= std::min(to, 236); ++node)
          ips.push_back(controller.NodeAddress(node));
        ApplyAll(ips, settings, services);
        Reread(controller);
        const ConnectionsShown shown = ReadShown(controller, hooks);
        Later(self, [shown](CDlgConnections& dialog) {
          dialog.SetBusy(false);
          dialog.ShowRead(shown);
          emit dialog.applyEnded();
        });
      },
      true);
}

// ---- extension ----

CDlgExtension::CDlgExtension(params::CMRegDlg& screen, QWidget* parent)
    : QDialog(parent), screen_(screen) {
  setObjectName(QStringLiteral("CDlgExtension"));
  setWindowTitle(tr("Erweiterungen"));
  auto* root = new QVBoxLayout(this);
  auto* module = new QGridLayout;
  node_ = new QLabel(this);
  node_->setObjectName(QStringLiteral("ctl1037"));
  ip_ = new QLabel(this);
  ip_->setObjectName(QStringLiteral("ctl1186"));
  module->addWidget(new QLabel(tr("Knoten #"), this), 0, 0);
  module->addWidget(node_, 0, 1);
  module->addWidget(new QLabel(tr("IP Adresse"), this), 0, 2);
  module->addWidget(ip_, 0, 3);
  root->addLayout(module);
  auto* sentence = new QHBoxLayout;
  master_ = new QComboBox(this);
  master_->setObjectName(QStringLiteral("ctl1389"));
  master_->addItem(tr("vorausgehenden"));
  master_->addItem(tr("nachfolgenden"));
  master_->setCurrentIndex(-1);
  master_->setToolTip(tr("Das Master-Modul, dessen Erweiterung dieses Modul wird."));
  sentence->addWidget(new QLabel(tr("Dieses Modul ist eine Erweiterung des"), this));
  sentence->addWidget(master_);
  sentence->addWidget(new QLabel(tr("Moduls"), this));
  sentence->addStretch(1);
  root->addLayout(sentence);
  apply_ = new QPushButton(tr("Anwenden"), this);
  apply_->setObjectName(QStringLiteral("ctl1178"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(apply_);
  root->addLayout(buttons);
  root->addStretch(1);
  connect(apply_, &QPushButton::clicked, this, &CDlgExtension::Apply);
  ReadModule();
}

void CDlgExtension::ReadModule() {
  QPointer<CDlgExtension> self(this);
  screen_.Worker().Post([self](params::NodeScreenController& controller) {
    const std::string ip = controller.View().moduleAddress;
    const int node = controller.Node();
    Later(self, [ip, node](CDlgExtension& dialog) {
      dialog.address_ = ip;
      dialog.node_->setText(node > 0 ? QString::number(node) : QString());
      dialog.ip_->setText(Q(ip));
      emit dialog.moduleRead();
    });
  });
}

void CDlgExtension::Apply() {
  if (busy_) return;
  const int entry = master_->currentIndex();
  const MasterChoice choice = entry == 0   ? MasterChoice::kPreceding
                              : entry == 1 ? MasterChoice::kFollowing
                                           : MasterChoice::kNone;
  busy_ = true;
  apply_->setEnabled(false);
  QPointer<CDlgExtension> self(this);
  screen_.Worker().Post(
      [self, choice](params::NodeScreenController& controller) {
        base::NullProgress progress;
        ConnectionServices services = ServicesOn(controller, progress, {});
        const std::string ip = controller.View().moduleAddress;
        ExtensionOutcome outcome = ExtensionOutcome::kFailed;
        if (ip.empty() || !controller.Connected()) {
          controller.prompt().Tell(base::Format(kLostText, ip.c_str()), "Quillmar",
                                   base::PromptIcon::Error);
        } else {
          MapModuleRegisters module(controller.Map());
          outcome = ApplyExtension(module, ip, choice, services);
        }
        Later(self, [outcome](CDlgExtension& dialog) {
          dialog.busy_ = false;
          dialog.outcome_ = outcome;
          dialog.apply_->setEnabled(true);
          emit dialog.applyEnded();
          dialog.ReadModule();
        });
      },
      true);
}

void InstallConnectionPages(params::CMRegDlg& screen, ui::CTabDlg::Pages& pages,
                            CDlgConnections::Hooks hooks) {
  params::CMRegDlg* node = &screen;
  pages[2] = [node, hooks](const ui::AdvancedPageContext&, QWidget* parent) -> QWidget* {
    auto* page = new CDlgConnections(*node, hooks, parent);
    page->setWindowFlags(Qt::Widget);
    return page;
  };
  pages[8] = [node](const ui::AdvancedPageContext&, QWidget* parent) -> QWidget* {
    auto* page = new CDlgExtension(*node, parent);
    page->setWindowFlags(Qt::Widget);
    return page;
  };
}

}  // namespace config
