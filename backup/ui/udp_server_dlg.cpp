#include "backup/ui/udp_server_dlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "backup/module_network.h"
#include "base/language.h"
#include "discovery/mreg_app.h"
#include "ui/time_left.h"

namespace backup {
namespace {

constexpr const char* kNoSelection = QT_TRANSLATE_NOOP("backup::CUDPServerDlg", "no selection");
// The subnet list's first entry, as the core names it.
[[maybe_unused]] constexpr const char* kAllSubnets =
    QT_TRANSLATE_NOOP("backup::CUDPServerDlg", "<<< Alle Netzwerke >>>");

}  // namespace

CUDPServerDlg::CUDPServerDlg(CMRegApp& app, base::Prompt& prompt, QWidget* parent)
    : QWidget(parent), app_(app), prompt_(prompt) {
  setObjectName("CUDPServerDlg");
  auto* layout = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(new QLabel(tr("Show devices on Subnet :"), this));
  subnet_ = new QComboBox(this);
  subnet_->setObjectName("subnet");
  filterRow->addWidget(subnet_, 1);
  left->addLayout(filterRow);
  list_ = new QListWidget(this);
  list_->setObjectName("modules");
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  left->addWidget(list_, 1);
  count_ = new QLabel(this);
  count_->setObjectName("count");
  left->addWidget(count_);
  auto* selectRow = new QHBoxLayout;
  auto* selectAll = new QPushButton(tr("Select ALL"), this);
  selectAll->setObjectName("selectAll");
  auto* selectNone = new QPushButton(tr("Select NONE"), this);
  selectNone->setObjectName("selectNone");
  selectRow->addWidget(selectAll);
  selectRow->addWidget(selectNone);
  left->addLayout(selectRow);
  layout->addLayout(left, 3);

  auto* right = new QVBoxLayout;
  auto* fields = new QGridLayout;
  const auto field = [&](int row, const QString& label, const char* name) {
    fields->addWidget(new QLabel(label, this), row, 0);
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    fields->addWidget(edit, row, 1);
    return edit;
  };
  serial_ = field(0, tr("Serial Number:"), "serial");
  ip_ = field(1, tr("IP:"), "ip");
  mask_ = field(2, tr("Mask:"), "mask");
  gateway_ = field(3, tr("Gateway:"), "gateway");
  fields->addWidget(new QLabel(tr("Position:"), this), 4, 0);
  position_ = new QLabel(this);
  position_->setObjectName("position");
  fields->addWidget(position_, 4, 1);
  right->addLayout(fields);
  const auto button = [&](const QString& text, const char* name, const QString& tip) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setToolTip(tip);
    right->addWidget(b);
    actions_.push_back(b);
    return b;
  };
  auto* discover = button(tr("Suchen"), "discover", tr("Module im Netzwerk suchen"));
  auto* set =
      button(tr("Setzen"), "set", tr("Seriennummer, IP, Maske und Gateway des Moduls setzen"));
  auto* dhcp = button(tr("DHCP Aus"), "dhcpOff", tr("DHCP des Moduls ausschalten"));
  auto* reorder = button(tr("IP anpassen"), "reorder", tr("IP Adressen der Module neu anordnen"));
  auto* backupButton = button(tr("Backup"), "backup", tr("Sicherung der ausgewählten Module"));
  auto* restore =
      button(tr("Wiederherstellen"), "restore", tr("Module aus der Sicherung wiederherstellen"));
  auto* restoreByIp = button(tr("Restore by IP"), "restoreByIp",
                             tr("Wiederherstellen mit den IP Adressen der Sicherung"));
  auto* upgrade =
      button(tr("Upgrade Fw"), "upgrade", tr("Firmware der ausgewählten Module erneuern"));
  auto* lock =
      button(tr("Lock Selected Network"), "lock", tr("Netzwerk gegen Selbstinstallation schützen"));
  auto* unlock =
      button(tr("Unlock Selected Network"), "unlock", tr("Schutz des Netzwerks aufheben"));
  auto* reset =
      button(tr("Reset\nName && IP"), "resetName", tr("Namen und IP Adressen zurücksetzen"));
  auto* tree = button(tr("Brevantrix Tree"), "tree", tr("Topologie des Netzwerks anzeigen"));
  bar_ = new QProgressBar(this);
  bar_->setObjectName("progress");
  bar_->setRange(0, 1);
  bar_->setValue(0);
  ui::ShowTimeLeft(bar_);
  right->addWidget(bar_);
  stopButton_ = new QPushButton(tr("STOP"), this);
  stopButton_->setObjectName("stop");
  stopButton_->setEnabled(false);
  right->addWidget(stopButton_);
  states_ = new QListWidget(this);
  states_->setObjectName("states");
  right->addWidget(states_, 1);
  layout->addLayout(right, 2);

  connect(subnet_, &QComboBox::currentTextChanged, this, [this] { Fill(); });
  connect(list_, &QListWidget::currentRowChanged, this, &CUDPServerDlg::ShowCurrent);
  connect(selectAll, &QPushButton::clicked, this, [this] { SelectAll(true); });
  connect(selectNone, &QPushButton::clicked, this, [this] { SelectAll(false); });
  connect(discover, &QPushButton::clicked, this, &CUDPServerDlg::Discover);
  connect(set, &QPushButton::clicked, this, &CUDPServerDlg::SetSettings);
  connect(dhcp, &QPushButton::clicked, this, &CUDPServerDlg::DhcpOff);
  connect(reorder, &QPushButton::clicked, this, &CUDPServerDlg::Reorder);
  connect(lock, &QPushButton::clicked, this, [this] { Lock(true); });
  connect(unlock, &QPushButton::clicked, this, [this] { Lock(false); });
  connect(reset, &QPushButton::clicked, this, &CUDPServerDlg::ResetNames);
  connect(upgrade, &QPushButton::clicked, this, &CUDPServerDlg::Upgrade);
  connect(stopButton_, &QPushButton::clicked, this, [this] { stop_ = true; });
  const auto hook = [this](ModulesHook CUDPServerDlg::Hooks::*which) {
    return [this, which] {
      const auto ips = SelectedIps();
      if (ips.empty()) return prompt_.Tell(tr(kNoSelection).toStdString());
      if (hooks_.*which) (hooks_.*which)(ips);
    };
  };
  connect(backupButton, &QPushButton::clicked, this, hook(&Hooks::backup));
  connect(restore, &QPushButton::clicked, this, hook(&Hooks::restore));
  connect(restoreByIp, &QPushButton::clicked, this, hook(&Hooks::restoreByIp));
  connect(tree, &QPushButton::clicked, this, [this] {
    if (hooks_.tree) hooks_.tree();
  });
  Fill();
}

CUDPServerDlg::~CUDPServerDlg() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

bool CUDPServerDlg::RunOperation(const QString& what, std::function<void()> work) {
  if (busy_.load()) return false;
  if (worker_.joinable()) worker_.join();
  busy_ = true;
  stop_ = false;
  for (QPushButton* b : actions_) b->setEnabled(false);
  stopButton_->setEnabled(true);
  bar_->setRange(0, 0);  // busy until the operation reports its steps
  states_->clear();
  AddState(what);
  worker_ = std::thread([this, work = std::move(work)] {
    work();
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (worker_.joinable()) worker_.join();
          busy_ = false;
          for (QPushButton* b : actions_) b->setEnabled(true);
          stopButton_->setEnabled(false);
          bar_->setRange(0, 1);
          bar_->setValue(1);
          Fill();
          emit operationFinished();
        },
        Qt::QueuedConnection);
  });
  return true;
}

void CUDPServerDlg::AddState(const QString& text) {
  QMetaObject::invokeMethod(
      this,
      [this, text] {
        states_->addItem(text);
        states_->scrollToBottom();
      },
      Qt::QueuedConnection);
}

void CUDPServerDlg::SetProgress(int done, int total) {
  QMetaObject::invokeMethod(
      this,
      [this, done, total] {
        bar_->setRange(0, std::max(total, 1));
        bar_->setValue(done);
      },
      Qt::QueuedConnection);
}

void CUDPServerDlg::Discover() {
  RunOperation(tr("Suchen..."), [this] {
    app_.discoverDone = 0;
    app_.Discover(false, nullptr);
    AddState(tr("Suchen - fertig"));
  });
}

void CUDPServerDlg::Fill() {
  // Copies, so that the list never holds a node a later discovery drops (F8).
  NodeList nodes;
  if (const AdapterPtr adapter = app_.SelectedAdapter()) {
    std::lock_guard guard(adapter->lock);
    for (const NodePtr& node : adapter->nodes) nodes.push_back(std::make_shared<CNode_Data>(*node));
  }
  nodes_ = nodes;
  // Each entry keeps the core's own text as its data (the filter), and shows it translated.
  const QVariant current = subnet_->currentData();
  {
    const QSignalBlocker blocker(subnet_);
    subnet_->clear();
    for (const std::string& entry : backup::SubnetEntries(nodes_)) {
      const QString key = QString::fromStdString(entry);
      subnet_->addItem(tr(entry.c_str()), key);
    }
    const int index = subnet_->findData(current);
    subnet_->setCurrentIndex(index >= 0 ? index : 0);
  }
  const std::string filter = subnet_->currentData().toString().toStdString();
  std::vector<uint32_t> selected;
  for (QListWidgetItem* item : list_->selectedItems())
    selected.push_back(item->data(Qt::UserRole).toUInt());
  list_->clear();
  size_t locked = 0, shown = 0;
  for (const NodePtr& node : nodes_) {
    locked += node->lockState == 1 ? 1 : 0;
    if (!backup::InSubnet(*node, filter)) continue;
    ++shown;
    auto* item = new QListWidgetItem(QString::fromStdString(ModuleListLine(*node)), list_);
    item->setData(Qt::UserRole, node->serialNumber);  // keyed by serial, not by position
    if (std::find(selected.begin(), selected.end(), node->serialNumber) != selected.end())
      item->setSelected(true);
  }
  count_->setText(
      QString::fromStdString(CountLine(nodes_.size(), locked, shown, base::CurrentLanguage())));
}

void CUDPServerDlg::ShowCurrent() {
  QListWidgetItem* item = list_->currentItem();
  if (!item) return;
  const uint32_t serial = item->data(Qt::UserRole).toUInt();
  for (const NodePtr& node : nodes_) {
    if (node->serialNumber != serial) continue;
    serial_->setText(QString::number(node->serialNumber));
    ip_->setText(QString::fromStdString(node->ipText));
    mask_->setText(QString::fromStdString(node->maskText));
    gateway_->setText(QString::fromStdString(node->gatewayText));
    position_->setText(QString::fromStdString(PositionText(node->record[16], true)));
  }
}

QStringList CUDPServerDlg::ListLines() const {
  QStringList lines;
  for (int row = 0; row < list_->count(); ++row) lines << list_->item(row)->text();
  return lines;
}

QStringList CUDPServerDlg::SubnetEntries() const {
  QStringList entries;
  for (int i = 0; i < subnet_->count(); ++i) entries << subnet_->itemText(i);
  return entries;
}

QString CUDPServerDlg::CountText() const {
  return count_->text();
}

void CUDPServerDlg::ShowSubnet(const QString& entry) {
  subnet_->setCurrentText(entry);
}

void CUDPServerDlg::SelectAll(bool all) {
  if (all) {
    list_->selectAll();
  } else {
    list_->clearSelection();
  }
}

NodeList CUDPServerDlg::SelectedNodes() const {
  NodeList selected;
  for (int row = 0; row < list_->count(); ++row) {
    if (!list_->item(row)->isSelected()) continue;
    const uint32_t serial = list_->item(row)->data(Qt::UserRole).toUInt();
    for (const NodePtr& node : nodes_) {
      if (node->serialNumber == serial) selected.push_back(node);
    }
  }
  return selected;
}

std::vector<std::string> CUDPServerDlg::SelectedIps() const {
  std::vector<std::string> ips;
  for (const NodePtr& node : SelectedNodes()) ips.push_back(node->ipText);
  return ips;
}

std::string CUDPServerDlg::SelectedNetwork() const {
  const std::string filter = subnet_->currentData().toString().toStdString();
  if (!filter.empty() && filter != kAllNetworks) return filter;
  const NodeList selected = SelectedNodes();
  return selected.empty() ? std::string() : NetworkText(selected.front()->ipAddress);
}

void CUDPServerDlg::SetSettings() {
  NodePtr node;
  if (QListWidgetItem* item = list_->currentItem(); item && item->isSelected()) {
    for (const NodePtr& n : nodes_) {
      if (n->serialNumber == item->data(Qt::UserRole).toUInt()) node = n;
    }
  }
  const SettingsInput input{
      ip_->text().trimmed().toStdString(), mask_->text().trimmed().toStdString(),
      gateway_->text().trimmed().toStdString(), serial_->text().trimmed().toStdString()};
  const SettingsCheck check = CheckSettings(node.get(), input);
  if (check.verdict == SettingsVerdict::kBeep) return prompt_.Beep();
  if (check.verdict != SettingsVerdict::kSend) return prompt_.Tell(check.message);
  const std::string from = node->ipText;
  RunOperation(tr("Set NodeIP %1").arg(QString::fromStdString(from)), [this, from, check] {
    std::string failure;
    const bool ok = SendSetNodeIp(
        app_, from, SetNodeIpPacket(check.serial, check.ip, check.mask, check.gateway), &failure);
    AddState(QString("%1: %2").arg(QString::fromStdString(from),
                                   ok ? QString("OK") : QString::fromStdString(failure)));
    app_.discoverDone = 0;
    app_.Discover(false, nullptr);
  });
}

void CUDPServerDlg::Reorder() {
  const NodeList selected = SelectedNodes();
  if (selected.empty()) return prompt_.Tell(tr(kNoSelection).toStdString());
  const ReorderPlan plan = PlanReorder(selected);
  if (!plan.refusal.empty()) {
    return prompt_.Tell(plan.refusal, tr("Beschränkung").toStdString(), base::PromptIcon::Warning);
  }
  if (prompt_.Ask(plan.question, tr("Warnung").toStdString(), base::PromptButtons::YesNo,
                  base::PromptIcon::Warning) != base::PromptAnswer::Yes)
    return;
  RunOperation(tr("IP anpassen"), [this, plan] {
    int total = 0, done = 0;
    for (const auto& net : plan.networks) total += static_cast<int>(net.moves.size());
    for (const auto& net : plan.networks) {
      for (const auto& move : net.moves) {
        if (stop_) return AddState(tr("STOP"));
        uint32_t to = 0;
        ParseAddress(move.to, &to);
        std::string failure;
        const bool ok = SendSetNodeIp(
            app_, move.from, SetNodeIpPacket(move.serial, to, move.mask, move.gateway), &failure);
        AddState(QString("%1 -> %2: %3")
                     .arg(QString::fromStdString(move.from), QString::fromStdString(move.to),
                          ok ? QString("OK") : QString::fromStdString(failure)));
        SetProgress(++done, total);
      }
    }
    app_.discoverDone = 0;
    app_.Discover(false, nullptr);
  });
}

void CUDPServerDlg::Lock(bool lock) {
  const std::string network = SelectedNetwork();
  if (network.empty()) return prompt_.Tell(tr(kNoSelection).toStdString());
  // Questions are asked here, so that the worker never waits for the window.
  NodeList all = nodes_;
  if (!ConfirmNetworkLock(all, lock, prompt_)) return;
  RunOperation(lock ? tr("Lock Selected Network") : tr("Unlock Selected Network"), [this, all,
                                                                                    network, lock] {
    const NetworkLockResult result = LockNetworkModules(app_, all, network, lock);
    AddState(tr("%1: %2 Module").arg(QString::fromStdString(network)).arg(result.changed));
    for (const auto& ip : result.failed)
      AddState(tr("%1: keine Antwort").arg(QString::fromStdString(ip)));
  });
}

void CUDPServerDlg::ResetNames() {
  const auto ips = SelectedIps();
  if (!ConfirmResetNames(ips.size(), prompt_)) return;
  if (!app_.SelectedAdapter()) {
    return prompt_.Tell(
        tr("Netzwerkadapter nicht verfügbar. Erneut Finden aktivieren, um die Liste der Module "
           "erneut zu laden.")
            .toStdString());
  }
  RunOperation(tr("Reset Name && IP"), [this, ips] {
    const auto failed = SendManagement(app_, ips, kCommandResetName);
    for (const auto& ip : ips) {
      const bool ok = std::find(failed.begin(), failed.end(), ip) == failed.end();
      AddState(
          QString("%1: %2").arg(QString::fromStdString(ip), ok ? tr("OK") : tr("nicht gesendet")));
    }
  });
}

void CUDPServerDlg::DhcpOff() {
  const auto ips = SelectedIps();
  if (ips.empty()) return prompt_.Tell(tr(kNoSelection).toStdString());
  RunOperation(tr("DHCP Aus"), [this, ips] {
    const auto failed = SendManagement(app_, ips, kCommandDhcpOff);
    for (const auto& ip : ips) {
      const bool ok = std::find(failed.begin(), failed.end(), ip) == failed.end();
      AddState(
          QString("%1: %2").arg(QString::fromStdString(ip), ok ? tr("OK") : tr("nicht gesendet")));
    }
  });
}

void CUDPServerDlg::Upgrade() {
  const NodeList selected = SelectedNodes();
  if (selected.empty()) return prompt_.Tell(tr(kNoSelection).toStdString());
  // Only local look-ups (the inventory, the adapter's addresses) and questions: no module
  // traffic, so it runs here.
  const auto ips = CheckUpgradeSelection(app_, selected, prompt_);
  if (!ips.empty() && hooks_.upgrade) hooks_.upgrade(ips);
}

}  // namespace backup
