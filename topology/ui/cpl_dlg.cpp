#include "topology/ui/cpl_dlg.h"

#include <arpa/inet.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "base/format.h"
#include "comm/event_log.h"
#include "discovery/mreg_app.h"
#include "discovery/topology_walk.h"
#include "topology/ui/autoconfig_to_dlg.h"
#include "topology/ui/cpl_view.h"

namespace topology::ui {

namespace {

CPLDlg* g_current = nullptr;  // the one open topology window

constexpr const char* kAllNetworks =
    QT_TRANSLATE_NOOP("topology::ui::CPLDlg", "<<< Alle Netzwerke >>>");
constexpr const char* kSelectOnlineNode =
    QT_TRANSLATE_NOOP("topology::ui::CPLDlg", "Bitte zuerst den online Knoten auswählen.");
constexpr const char* kSelectAutoConfigNode = QT_TRANSLATE_NOOP(
    "topology::ui::CPLDlg",
    "Bitte den Knoten aus der Liste auswählen, an dem die AutoConfig starten soll.");
constexpr const char* kSelectReplaceNode = QT_TRANSLATE_NOOP(
    "topology::ui::CPLDlg", "Bitte den zu ersetzenden Knoten aus der Liste auswählen.");

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.c_str());
}

// Runs `work` on the window's thread if the window still exists then.
void OnWindow(const QPointer<CPLDlg>& window, std::function<void(CPLDlg&)> work) {
  QMetaObject::invokeMethod(
      qApp,
      [window, work = std::move(work)] {
        if (window) work(*window);
      },
      Qt::QueuedConnection);
}

}  // namespace

// The worker's progress: texts and the countdown go to the wait panel, queued.
class CPLDlg::Reporter : public base::Progress {
 public:
  explicit Reporter(QPointer<CPLDlg> window) : window_(std::move(window)) {}
  void SetRange(int total) override {
    total_ = total;
    OnWindow(window_, [total](CPLDlg& w) { w.SetCountdown(total, total); });
  }
  void SetPosition(int done) override {
    const int total = total_;
    OnWindow(window_, [total, done](CPLDlg& w) { w.SetCountdown(total, done); });
  }
  void SetText(const std::string& text) override {
    OnWindow(window_, [text](CPLDlg& w) { w.SetWaitText(FromUtf8(text)); });
  }

 private:
  const QPointer<CPLDlg> window_;
  std::atomic<int> total_{0};
};

// What RunNodeCommand needs of the window, from the worker thread.
class CPLDlg::Window : public NodeCommandWindow {
 public:
  explicit Window(Core& core) : core_(core) {}
  void EnableCommandButtons(bool enable) override;
  // Re-read the inventory and redraw: a full run with discovery.
  void RequestRedraw() override;
  void RememberAutoConfig(uint32_t firstSerial, uint32_t lastSerial) override;
  int DetermineDirection(const NodePtr& node) override;

 private:
  Core& core_;
};

// The window's worker and everything its jobs use. A window closed while a job runs leaves its
// core behind until the job has seen the closing and ended, so that closing never waits for the
// network; the program's end stops what is left.
struct CPLDlg::Core {
  Core(CMRegApp& a, base::Prompt& p, bool installation, ProcedureSteps steps, QPointer<CPLDlg> w)
      : app(a),
        prompt(p),
        installationMode(installation),
        window(std::move(w)),
        procedure(a, std::move(steps)),
        reporter(window),
        nodeWindow(*this) {
    base::SerialWorker::Hooks hooks;
    hooks.busy = [w = window](bool on) { OnWindow(w, [on](CPLDlg& d) { d.SetBusy(on); }); };
    worker =
        std::make_unique<base::SerialWorker>(base::SerialWorker::Cycle{}, std::move(hooks), 1000);
  }
  ~Core() { worker.reset(); }  // joined before the rest goes

  void PostTopology(uint32_t mode);
  void PostDiscover();
  void PostCommand(uint16_t command, uint32_t serial, uint32_t lastSerial, size_t listed);

  CMRegApp& app;
  base::Prompt& prompt;
  const bool installationMode;
  const QPointer<CPLDlg> window;  // made on the window's thread; jobs only copy it
  TopologyViewState state;
  TopologyProcedure procedure;
  Reporter reporter;
  Window nodeWindow;
  std::mutex autoConfigLock;
  uint32_t autoConfigFirst = 0;  // the ends of the last AutoConfig, selected after the redraw
  uint32_t autoConfigLast = 0;
  int workerId = 0;
  std::unique_ptr<base::SerialWorker> worker;
};

void CPLDlg::Window::EnableCommandButtons(bool enable) {
  OnWindow(core_.window, [enable](CPLDlg& w) { w.EnableButtons(enable); });
}

void CPLDlg::Window::RequestRedraw() {
  core_.PostTopology(kRunWithDiscovery);
}

void CPLDlg::Window::RememberAutoConfig(uint32_t firstSerial, uint32_t lastSerial) {
  std::lock_guard guard(core_.autoConfigLock);
  core_.autoConfigFirst = firstSerial;
  core_.autoConfigLast = lastSerial;
}

int CPLDlg::Window::DetermineDirection(const NodePtr& node) {
  return discovery::_determineNode_Direction(core_.app, core_.state, node);
}

std::vector<std::shared_ptr<CPLDlg::Core>>& CPLDlg::RetiredCores() {
  static std::vector<std::shared_ptr<Core>> retired;  // used on the GUI thread only
  return retired;
}

void CPLDlg::Retire(std::shared_ptr<Core> core) {
  RetiredCores().push_back(std::move(core));
  static QPointer<QTimer> reaper;
  if (!reaper) {
    reaper = new QTimer(qApp);
    reaper->setInterval(50);
    QObject::connect(reaper, &QTimer::timeout, [] {
      std::erase_if(RetiredCores(), [](const std::shared_ptr<Core>& c) {
        if (c->worker->LongWorkPending()) return false;
        c->app.UnregisterWorker(c->workerId);
        return true;  // the idle worker is joined as the core goes
      });
      if (RetiredCores().empty() && reaper) reaper->stop();
    });
  }
  reaper->start();
}

CPLDlg::CPLDlg(CMRegApp& app, base::Prompt& prompt, bool installationMode, QWidget* parent,
               std::optional<ProcedureSteps> steps)
    : QDialog(parent), app_(app), prompt_(prompt), installationMode_(installationMode) {
  g_current = this;
  setObjectName(QStringLiteral("CPLDlg"));
  core_ = std::make_shared<Core>(app, prompt, installationMode, steps ? *steps : LineSteps(app),
                                 QPointer<CPLDlg>(this));
  // The program's end stops a worker still running (also one a closed window left behind).
  core_->workerId = app.RegisterWorker([weak = std::weak_ptr<Core>(core_)] {
    if (const std::shared_ptr<Core> core = weak.lock()) {
      core->worker->Stop();
      std::erase(RetiredCores(), core);
    }
  });
  // The change of address opens the program's own dialog, whoever opened the window.
  changeIp_ = [&app, &prompt](const CPLViewDevice& device, QWidget* owner) {
    CDlg_AutoConfigTo dialog(app, prompt, device.node, owner);
    return dialog.exec() == QDialog::Accepted;
  };
  BuildWindow();
  SetTitle(QString::fromStdString(ShownTitleBase()));
  // Opening draws the line at once (a full Discover && Redraw).
  QMetaObject::invokeMethod(this, &CPLDlg::DiscoverAndRedraw, Qt::QueuedConnection);
}

CPLDlg::~CPLDlg() {
  ShutDown();
  if (g_current == this) g_current = nullptr;
}

CPLDlg* CPLDlg::Current() {
  return g_current;
}

base::SerialWorker& CPLDlg::Worker() {
  return *core_->worker;
}

void CPLDlg::BuildWindow() {
  resize(1180, 640);
  auto* outer = new QHBoxLayout(this);

  // Left: the scan button, the subnet filter, the module list and its buttons.
  auto* left = new QVBoxLayout();
  redraw_ = new QPushButton(tr("Antriebsnetzwerk scannen"), this);
  redraw_->setObjectName(QStringLiteral("discoverRedraw"));
  redraw_->setMinimumHeight(30);
  left->addWidget(redraw_);
  left->addSpacing(6);
  auto* subnetLabel = new QLabel(tr("Zeige Zentrik im Subnetz:"), this);
  left->addWidget(subnetLabel);
  subnet_ = new QComboBox(this);
  subnet_->setObjectName(QStringLiteral("subnet"));
  subnet_->addItem(tr(kAllNetworks), 0u);
  left->addWidget(subnet_);
  discover_ = new QPushButton(tr("Discover"), this);
  discover_->setObjectName(QStringLiteral("discover"));
  auto* discoverRow = new QHBoxLayout();
  discoverRow->addStretch(1);
  discoverRow->addWidget(discover_);
  left->addLayout(discoverRow);
  count_ = new QLabel(tr("Discovered/unassigned modules:"), this);
  count_->setObjectName(QStringLiteral("count"));
  left->addWidget(count_);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("modules"));
  list_->setColumnCount(1);
  list_->setHeaderLabels({tr("Discovered modules:")});
  list_->setRootIsDecorated(false);
  list_->header()->resizeSection(0, 240);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  left->addWidget(list_, 1);
  autoConfig_ = new QPushButton(tr("AutoConfig von ausgewählter IP Adresse"), this);
  autoConfig_->setObjectName(QStringLiteral("autoConfig"));
  replace_ = new QPushButton(tr("Ausgewähltes Modul ersetzen"), this);
  replace_->setObjectName(QStringLiteral("replace"));
  left->addWidget(autoConfig_);
  left->addWidget(replace_);
  auto* leftPanel = new QWidget(this);
  leftPanel->setLayout(left);
  leftPanel->setFixedWidth(280);
  outer->addWidget(leftPanel);

  // Right: the drawing, the zoom and the wait panel.
  auto* right = new QVBoxLayout();
  view_ = new CPLView(this);
  view_->beep = [this] { prompt_.Beep(); };
  view_->onCommand = [this](int command, uint32_t serial) { OnMenuCommand(command, serial); };
  titleLine_ = new QLabel(this);
  titleLine_->setObjectName(QStringLiteral("titleLine"));
  titleLine_->setTextFormat(Qt::PlainText);
  QFont titleFont = titleLine_->font();
  titleFont.setBold(true);
  titleLine_->setFont(titleFont);
  right->addWidget(titleLine_);
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("topologyScroll"));
  scroll_->setWidget(view_);
  scroll_->setWidgetResizable(false);
  scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  scroll_->setStyleSheet(QStringLiteral("QScrollArea { background: #f6f8fa; }"));
  right->addWidget(scroll_, 1);

  auto* tools = new QHBoxLayout();
  auto* zoomOut = new QToolButton(this);
  zoomOut->setText(QStringLiteral("−"));
  zoomOut->setObjectName(QStringLiteral("zoomOut"));
  auto* zoomIn = new QToolButton(this);
  zoomIn->setText(QStringLiteral("+"));
  zoomIn->setObjectName(QStringLiteral("zoomIn"));
  auto* grid = new QCheckBox(tr("Raster"), this);
  grid->setObjectName(QStringLiteral("grid"));
  tools->addWidget(new QLabel(tr("Zoom:"), this));
  tools->addWidget(zoomOut);
  tools->addWidget(zoomIn);
  tools->addSpacing(12);
  tools->addWidget(grid);
  tools->addStretch(1);
  right->addLayout(tools);

  waitPanel_ = new QWidget(this);
  waitPanel_->setObjectName(QStringLiteral("waitPanel"));
  waitPanel_->setStyleSheet(QStringLiteral(
      "#waitPanel { background: #fff8e1; border: 1px solid #f0c36d; border-radius: 4px; }"));
  auto* wait = new QHBoxLayout(waitPanel_);
  waitText_ = new QLabel(waitPanel_);
  waitText_->setObjectName(QStringLiteral("waitText"));
  waitText_->setWordWrap(true);
  countdown_ = new QProgressBar(waitPanel_);
  countdown_->setObjectName(QStringLiteral("countdown"));
  countdown_->setMinimumWidth(220);
  countdown_->setFormat(tr("noch %v s"));
  countdown_->setVisible(false);
  cancel_ = new QPushButton(tr("Abbrechen"), waitPanel_);
  cancel_->setObjectName(QStringLiteral("cancelWait"));
  cancel_->setVisible(false);
  wait->addWidget(waitText_, 1);
  wait->addWidget(countdown_);
  wait->addWidget(cancel_);
  waitPanel_->setVisible(false);
  right->addWidget(waitPanel_);
  outer->addLayout(right, 1);

  connect(redraw_, &QPushButton::clicked, this, &CPLDlg::DiscoverAndRedraw);
  connect(discover_, &QPushButton::clicked, this, &CPLDlg::Discover);
  connect(autoConfig_, &QPushButton::clicked, this, &CPLDlg::AutoConfigFromList);
  connect(replace_, &QPushButton::clicked, this, &CPLDlg::ReplaceFromList);
  connect(subnet_, &QComboBox::currentIndexChanged, this, [this] { RefreshList(); });
  connect(zoomIn, &QToolButton::clicked, view_, &CPLView::ZoomIn);
  connect(zoomOut, &QToolButton::clicked, view_, &CPLView::ZoomOut);
  connect(grid, &QCheckBox::toggled, view_, &CPLView::SetGrid);
  // The wait for the modules may be cut short; the modules go on with their work regardless.
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (core_) core_->reporter.Cancel().Cancel();
  });
}

// The title also heads the drawing, where a problem count is seen at once.
std::string CPLDlg::ShownTitleBase() const {
  return installationMode_ ? tr(kInstallationTitle).toStdString() : std::string(kTitle);
}

void CPLDlg::SetTitle(const QString& title, bool problemsFound) {
  setWindowTitle(title);
  titleLine_->setText(title);
  titleLine_->setStyleSheet(problemsFound ? QStringLiteral("color: #b71c1c;")
                                          : QStringLiteral("color: #1f2d3a;"));
}

QString CPLDlg::WaitText() const {
  return waitText_->text();
}

int CPLDlg::CountdownSeconds() const {
  return countdown_->isVisible() ? countdown_->value() : -1;
}

void CPLDlg::SetBusy(bool on) {
  busy_ = on;
  waitPanel_->setVisible(on);
  if (on) {
    view_->setCursor(Qt::BusyCursor);
  } else {
    view_->unsetCursor();
    countdown_->setVisible(false);
    cancel_->setVisible(false);
  }
  EnableButtons(!on);
}

void CPLDlg::EnableButtons(bool enable) {
  for (QPushButton* button : {redraw_, discover_, autoConfig_, replace_})
    button->setEnabled(enable);
}

void CPLDlg::SetWaitText(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  waitText_->setText(shown.trimmed());
}

void CPLDlg::SetCountdown(int total, int remaining) {
  if (total <= 0) return;
  countdown_->setRange(0, total);
  countdown_->setValue(std::clamp(remaining, 0, total));
  countdown_->setVisible(busy_ || remaining > 0);
  cancel_->setVisible(countdown_->isVisible());
}

std::vector<CPLDlg::ListedNode> CPLDlg::SnapshotNodes(CMRegApp& app, std::string* adapterText) {
  std::vector<ListedNode> nodes;
  const AdapterPtr adapter = app.SelectedAdapter();
  if (!adapter) return nodes;
  std::lock_guard guard(adapter->lock);
  if (adapterText != nullptr) {
    *adapterText = adapter->name;
    if (!adapter->info.addressText.empty()) *adapterText += " (" + adapter->info.addressText + ")";
  }
  for (const NodePtr& node : adapter->nodes) {
    ListedNode listed;
    listed.serial = node->serialNumber;
    listed.ip = node->ipText;
    listed.revision = node->revision;
    listed.revisionKnown = node->revision != 0;
    const uint32_t host = ntohl(node->ipAddress);
    listed.subnet = host >> 8;
    listed.capable = IsAutoConfigCapable(*node);
    nodes.push_back(listed);
  }
  return nodes;
}

NodePtr CPLDlg::AdapterNode(CMRegApp& app, uint32_t serial) {
  const AdapterPtr adapter = app.SelectedAdapter();
  if (!adapter || serial == 0) return nullptr;
  return adapter->FindNodeBySerial(serial, nullptr, true);
}

void CPLDlg::Core::PostTopology(uint32_t mode) {
  if (state.Closing()) return;
  worker->Post(
      [this, mode] {
        reporter.Cancel().Reset();
        ProcedureEvents events;
        events.text = [this](const std::string& text) { reporter.SetText(text); };
        events.readers = [this](int done, int total) {
          reporter.SetText(CPLDlg::tr("Register der Module werden gelesen... %1 / %2")
                               .arg(done)
                               .arg(total)
                               .toStdString());
        };
        ProcedureRequest request;
        request.mode = mode;
        request.installationMode = installationMode;
        ProcedureResult result =
            procedure.Run(request, state, events, installationMode ? kInstallationTitle : kTitle);
        DeviceArray snapshot;
        {
          const AdapterPtr adapter = app.SelectedAdapter();
          if (adapter) {
            std::lock_guard guard(adapter->lock);
            snapshot = SnapshotOf(result.view);
          }
        }
        result.view = DeviceArray();  // the adapter's own nodes stay on the worker
        std::string adapterText;
        std::vector<ListedNode> nodes = SnapshotNodes(app, &adapterText);
        OnWindow(window, [result, snapshot, nodes, adapterText](CPLDlg& w) {
          w.ShowTopology(result, snapshot, nodes, adapterText);
        });
      },
      true);
}

void CPLDlg::Core::PostDiscover() {
  worker->Post(
      [this] {
        reporter.SetText(CPLDlg::tr("Suche alle Knoten...").toStdString());
        app.discoverDone = 1;
        app.Discover(app.SelectedAdapterName().empty(), nullptr);
        std::vector<ListedNode> nodes = SnapshotNodes(app, nullptr);
        OnWindow(window, [nodes](CPLDlg& w) {
          w.nodes_ = nodes;
          w.found_ = nodes.size();
          w.FillSubnets(nodes);
        });
      },
      true);
}

void CPLDlg::Core::PostCommand(uint16_t command, uint32_t serial, uint32_t lastSerial,
                               size_t listed) {
  worker->Post(
      [this, command, serial, lastSerial, listed] {
        reporter.Cancel().Reset();
        const NodePtr first = AdapterNode(app, serial);
        const NodePtr last = lastSerial != 0 ? AdapterNode(app, lastSerial) : nullptr;
        if (!first) return;
        DeviceArray view = state.View();
        NodeCommandContext context{app, prompt, reporter, nodeWindow, &view, listed};
        RunNodeCommand(context, {command, first, last});
        state.SetView(view);  // directions learnt on the way
      },
      true);
}

void CPLDlg::DiscoverAndRedraw() {
  if (!core_ || core_->worker->LongWorkPending()) return;
  view_->ClearSelection();
  core_->PostTopology(kRunWithDiscovery);
}

void CPLDlg::Discover() {
  if (!core_ || core_->worker->LongWorkPending()) return;
  core_->PostDiscover();
}

void CPLDlg::ShowTopology(const ProcedureResult& result, const DeviceArray& snapshot,
                          const std::vector<ListedNode>& nodes, const std::string& adapterText) {
  if (result.stopped || shutDown_ || !core_) return;
  nodes_ = nodes;
  found_ = result.found;
  outcome_ = result.outcome;
  if (result.noAdapter) {
    view_->SetDrawing(DeviceArray(), std::string());
    prompt_.Tell(kTextNoAdapter, "Quillmar", base::PromptIcon::Warning);
  } else if (!result.duplicates.empty()) {
    view_->SetDrawing(DeviceArray(), adapterText);
    prompt_.Tell(result.duplicates, "Duplicated IPs", base::PromptIcon::Warning);
  } else {
    view_->SetDrawing(snapshot, adapterText);
    // The title in the user's language, from the counts (result.view is left on the worker).
    const size_t drawn = snapshot.devices.empty() ? 0 : snapshot.ModuleCount();
    SetTitle(FromUtf8(topology::WindowTitle(ShownTitleBase(), drawn, result.found, result.problems,
                                            base::CurrentLanguage())),
             result.problems > 0);
    uint32_t first = 0;
    uint32_t last = 0;
    {
      std::lock_guard guard(core_->autoConfigLock);
      std::swap(first, core_->autoConfigFirst);
      std::swap(last, core_->autoConfigLast);
    }
    if (first != 0) view_->SelectRange(first, last);
  }
  FillSubnets(nodes);
  ++runsShown_;
  emit topologyShown();
  if (!result.message.empty()) {
    prompt_.Tell(result.message, "Quillmar",
                 result.outcome == Outcome::Incomplete ? base::PromptIcon::Warning
                                                       : base::PromptIcon::Information);
  }
}

void CPLDlg::FillSubnets(const std::vector<ListedNode>& nodes) {
  const uint32_t current = subnet_->currentData().toUInt();
  std::set<uint32_t> subnets;
  for (const ListedNode& node : nodes) subnets.insert(node.subnet);
  const QSignalBlocker block(subnet_);
  subnet_->clear();
  subnet_->addItem(tr(kAllNetworks), 0u);
  int select = 0;
  for (uint32_t subnet : subnets) {
    subnet_->addItem(
        QString::asprintf("%u.%u.%u.0", (subnet >> 16) & 0xFF, (subnet >> 8) & 0xFF, subnet & 0xFF),
        subnet);
    if (subnet == current) select = subnet_->count() - 1;
  }
  subnet_->setCurrentIndex(select);
  RefreshList();
}

void CPLDlg::RefreshList() {
  const uint32_t subnet = subnet_->currentData().toUInt();
  list_->clear();
  size_t discovered = 0;
  size_t shown = 0;
  for (const ListedNode& node : nodes_) {
    if (installationMode_ && !node.capable) continue;
    ++discovered;
    if (subnet != 0 && node.subnet != subnet) continue;
    const std::string text =
        node.revisionKnown
            ? base::Format("%s, %u, %d.%02d", node.ip.c_str(), node.serial,
                           node.capable ? RevisionMajor(node.revision) : node.revision >> 8,
                           RevisionMinor(node.revision))
            : base::Format("%s, %u", node.ip.c_str(), node.serial);
    auto* item = new QTreeWidgetItem(list_, {FromUtf8(text)});
    item->setData(0, Qt::UserRole, node.serial);
    ++shown;
  }
  listed_ = shown;
  count_->setText(tr("Entdeckt = %1, angezeigt = %2").arg(discovered).arg(shown));
}

void CPLDlg::AutoConfigFromList() {
  QTreeWidgetItem* item = list_->currentItem();
  if (item == nullptr) {
    prompt_.Tell(tr(kSelectAutoConfigNode).toStdString());
    return;
  }
  const uint32_t serial = item->data(0, Qt::UserRole).toUInt();
  if (serial == 0) {
    prompt_.Beep();
    return;
  }
  view_->ClearSelection();
  RunCommand(kCommandAutoConfig, serial);
}

void CPLDlg::ReplaceFromList() {
  QTreeWidgetItem* item = list_->currentItem();
  if (item == nullptr) {
    prompt_.Tell(tr(kSelectReplaceNode).toStdString());
    return;
  }
  const uint32_t serial = item->data(0, Qt::UserRole).toUInt();
  if (serial == 0) {
    prompt_.Beep();
    return;
  }
  view_->ClearSelection();
  RunCommand(kCommandReplace, serial);
}

void CPLDlg::OnMenuCommand(int command, uint32_t serial) {
  if (serial == 0) {
    prompt_.Tell(tr(kSelectOnlineNode).toStdString());
    return;
  }
  switch (command) {
    case kMenuAutoConfig:
      RunCommand(kCommandAutoConfig, serial);
      break;
    case kMenuReplace:
      RunCommand(kCommandReplace, serial);
      break;
    case kMenuFactoryReset:
      RunCommand(kCommandFactoryReset, serial);
      break;
    case kMenuChangeIp: {
      // The module's address must not change under a procedure that is still running.
      if (!core_ || core_->worker->LongWorkPending()) {
        prompt_.Beep();
        return;
      }
      const int index = view_->Drawing().FindDeviceBySerial(serial);
      const NodePtr node = AdapterNode(app_, serial);
      if (!changeIp_ || index < 0 || !node) {
        prompt_.Beep();
        return;
      }
      CPLViewDevice device = view_->Drawing().devices[static_cast<size_t>(index)];
      device.node = node;
      if (!changeIp_(device, this)) return;
      view_->update();
      RunCommand(kCommandAutoConfig, serial);
      break;
    }
    default:
      break;
  }
}

void CPLDlg::RunCommand(uint16_t command, uint32_t serial) {
  if (!core_) return;
  if (core_->worker->LongWorkPending()) {
    prompt_.Beep();  // one procedure at a time
    return;
  }
  // The other end of a range, when the command is for one of its ends.
  uint32_t lastSerial = 0;
  const DeviceArray& drawing = view_->Drawing();
  if (view_->RangeCount() > 1 && view_->SelectedSerial() == serial) {
    const uint32_t a = drawing.devices[static_cast<size_t>(view_->RangeFirst())].Serial();
    const uint32_t b = drawing.devices[static_cast<size_t>(view_->RangeLast())].Serial();
    if (a == serial) lastSerial = b;
    if (b == serial) lastSerial = a;
  }
  core_->PostCommand(command, serial, lastSerial, listed_);
}

void CPLDlg::ShutDown() {
  if (shutDown_ || !core_) return;
  shutDown_ = true;
  // Long work ends at its next check: the readers, the layout and the countdown. A job still
  // inside a network step is not waited for here.
  core_->state.SetClosing();
  core_->reporter.Cancel().Cancel();
  if (core_->worker->LongWorkPending()) {
    Retire(std::move(core_));
  } else {
    app_.UnregisterWorker(core_->workerId);
  }
  core_.reset();
}

void CPLDlg::closeEvent(QCloseEvent* event) {
  ShutDown();
  QDialog::closeEvent(event);
}

void CPLDlg::reject() {
  ShutDown();
  QDialog::reject();
}

CPLDlg* OpenTopologyWindow(CMRegApp& app, base::Prompt& prompt, QWidget* parent,
                           bool installationMode, CPLDlg::ChangeIpOpener changeIp) {
  if (CPLDlg* open = CPLDlg::Current()) {
    open->showNormal();
    open->raise();
    open->activateWindow();
    return open;
  }
  auto* dialog = new CPLDlg(app, prompt, installationMode, parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  if (changeIp) dialog->SetChangeIpOpener(std::move(changeIp));
  dialog->show();
  return dialog;
}

}  // namespace topology::ui
