#pragma once
// The topology window (CPLDlg): the subnet filter, the list of discovered modules with its
// count, the buttons, and the drawing of the adapter's line (CPLView). Everything that talks to
// the network (discovery, the topology procedure, AutoConfig, Replace, factory reset) runs as
// a job on the window's worker; the window shows the worker's texts and the countdown of the
// modules' work in its wait panel and stays live meanwhile.
#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/progress.h"
#include "base/prompt.h"
#include "base/serial_worker.h"
#include "topology/node_command.h"
#include "topology/topology_procedure.h"

class CMRegApp;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTreeWidget;
class QWidget;

namespace topology::ui {

class CPLView;

class CPLDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "PL Conveyors Dialog";
  static constexpr const char* kInstallationTitle =
      QT_TRANSLATE_NOOP("topology::ui::CPLDlg", "Urmigat Installationstopologie");

  // Opens the change-of-address dialog for a module (its node is the adapter's own record);
  // true when it ended with OK. By default the window opens CDlg_AutoConfigTo.
  using ChangeIpOpener = std::function<bool(const CPLViewDevice& device, QWidget* parent)>;

  // prompt and app must outlive the window. Steps default to the real line's.
  CPLDlg(CMRegApp& app, base::Prompt& prompt, bool installationMode = false,
         QWidget* parent = nullptr, std::optional<ProcedureSteps> steps = std::nullopt);
  ~CPLDlg() override;

  // The one open topology window, or null.
  static CPLDlg* Current();

  void SetChangeIpOpener(ChangeIpOpener opener) { changeIp_ = std::move(opener); }

  CPLView* View() const { return view_; }
  // The worker of the window's network work (until the window is closed).
  base::SerialWorker& Worker();
  bool Busy() const { return busy_; }
  // Completed topology runs (tests wait on it) and the last run's result facts.
  int RunsShown() const { return runsShown_; }
  size_t FoundCount() const { return found_; }
  Outcome LastOutcome() const { return outcome_; }
  QString WaitText() const;
  int CountdownSeconds() const;  // -1 while no countdown runs

 public slots:
  void DiscoverAndRedraw();  // "Antriebsnetzwerk scannen"
  void Discover();           // "Discover"
  void AutoConfigFromList();
  void ReplaceFromList();
  // A context-menu or list command on a module: 32842 AutoConfig, 32843 Replace, 32845 reset.
  void RunCommand(uint16_t command, uint32_t serial);

 signals:
  void topologyShown();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  struct ListedNode {
    uint32_t serial = 0;
    std::string ip;
    uint16_t revision = 0;
    uint32_t subnet = 0;  // first three address bytes
    bool capable = false;
    bool revisionKnown = false;
  };
  class Window;    // NodeCommandWindow for the worker
  class Reporter;  // base::Progress for the worker
  struct Core;     // what the worker works with; outlives the window until the worker is idle
  static std::vector<std::shared_ptr<Core>>& RetiredCores();
  static void Retire(std::shared_ptr<Core> core);

  void BuildWindow();
  void ShowTopology(const ProcedureResult& result, const DeviceArray& snapshot,
                    const std::vector<ListedNode>& nodes, const std::string& adapterText);
  void FillSubnets(const std::vector<ListedNode>& nodes);
  void RefreshList();
  void OnMenuCommand(int command, uint32_t serial);
  void SetBusy(bool on);
  void EnableButtons(bool enable);
  void SetWaitText(const QString& text);
  // The title of the window and of the drawing; red when the check found problems.
  void SetTitle(const QString& title, bool problemsFound = false);
  // The title's first part as shown: the installation title in the user's language.
  std::string ShownTitleBase() const;
  void SetCountdown(int total, int remaining);
  static std::vector<ListedNode> SnapshotNodes(CMRegApp& app, std::string* adapterText);
  static NodePtr AdapterNode(CMRegApp& app, uint32_t serial);
  void ShutDown();

  CMRegApp& app_;
  base::Prompt& prompt_;
  const bool installationMode_;
  std::shared_ptr<Core> core_;
  ChangeIpOpener changeIp_;

  std::vector<ListedNode> nodes_;
  size_t found_ = 0;
  size_t listed_ = 0;
  Outcome outcome_ = Outcome::Complete;
  int runsShown_ = 0;
  bool busy_ = false;
  bool shutDown_ = false;

  QComboBox* subnet_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QLabel* count_ = nullptr;
  QPushButton* redraw_ = nullptr;
  QPushButton* discover_ = nullptr;
  QPushButton* autoConfig_ = nullptr;
  QPushButton* replace_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QLabel* titleLine_ = nullptr;
  CPLView* view_ = nullptr;
  QWidget* waitPanel_ = nullptr;
  QLabel* waitText_ = nullptr;
  QProgressBar* countdown_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// Opens (or raises) the topology window for the selected adapter, the way the node screen and
// the discovered-modules page start it. The window deletes itself when closed. Without
// `changeIp` the window's own opener (CDlg_AutoConfigTo) is kept.
CPLDlg* OpenTopologyWindow(CMRegApp& app, base::Prompt& prompt, QWidget* parent,
                           bool installationMode = false,
                           CPLDlg::ChangeIpOpener changeIp = nullptr);

}  // namespace topology::ui
