#include "upgrade_pages.h"

#include <QDialog>
#include <QVBoxLayout>

#include "backup/line_operations.h"
#include "backup/ui/backup_run_window.h"
#include "backup/ui/udp_server_dlg.h"
#include "base/format.h"
#include "config/ui/yarq_uploader_dlg.h"
#include "discovery/inventory.h"
#include "discovery/mreg_app.h"
#include "topology/ui/cpl_dlg.h"

namespace {

constexpr int kUpgradePage = 1;
constexpr int kNetworkPage = 3;

// The window's node range as addresses: node n of a.b.c is a.b.c.(n + 19).
std::vector<std::string> RangeAddresses(const ui::AdvancedPageContext& range) {
  std::vector<std::string> ips;
  std::array<uint8_t, 4> network{};
  if (!ParseAddress(range.networkAddress, network)) return ips;
  const int last = range.toNode > 0 ? range.toNode : range.fromNode;
  for (int node = range.fromNode; node >= 1 && node <= last && node <= 236; ++node)
    ips.push_back(base::Format("%d.%d.%d.%d", network[0], network[1], network[2], node + 19));
  return ips;
}

// "Upgrade Fw": the upgrade with the page's selection, in a window of its own.
void OpenUploader(MainWindowContext& context, const std::vector<std::string>& ips,
                  QWidget* parent) {
  auto* dialog = new QDialog(parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle("Upgrade");
  auto* layout = new QVBoxLayout(dialog);
  auto* uploader = new config::CYarq_UploaderDlg(context.app, context.prompt, dialog);
  uploader->SetModules(ips);
  layout->addWidget(uploader);
  dialog->resize(640, 480);
  dialog->show();
}

// The selected modules' records as the selected adapter holds them (addresses not found there
// are left out; the page lists only modules it found).
std::vector<backup::ModuleInfo> SelectedModules(CMRegApp& app,
                                                const std::vector<std::string>& ips) {
  std::vector<backup::ModuleInfo> modules;
  const AdapterPtr adapter = app.SelectedAdapter();
  if (!adapter) return modules;
  std::lock_guard guard(adapter->lock);
  for (const std::string& ip : ips) {
    if (const NodePtr node = FindNodeByIp(ip, nullptr, adapter->nodes))
      modules.push_back(backup::ModuleFromNode(*node));
  }
  return modules;
}

// "Backup", "Restore" and "Restore by IP": one run window over the page's selection; a restore
// first asks for the backup file.
void OpenBackupRun(MainWindowContext& context, backup::BackupRunWindow::Mode mode,
                   const std::vector<std::string>& ips, QWidget* parent) {
  backup::BackupRunWindow::Setup setup;
  setup.mode = mode;
  setup.modules = SelectedModules(context.app, ips);
  if (mode == backup::BackupRunWindow::Mode::kBackup) {
    setup.reachable = backup::MakeReachabilityCheck(context.app);
  } else {
    auto loaded = backup::BackupRunWindow::LoadBackupFile(parent, context.profile, context.prompt);
    if (!loaded) return;
    setup.records = std::move(loaded->first);
    setup.fileName = std::move(loaded->second);
    setup.line = [&app = context.app] { return backup::MakeLineOperations(app); };
  }
  auto* window =
      new backup::BackupRunWindow(std::move(setup), context.prompt, context.profile, parent);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
  window->Start();
}

}  // namespace

void InstallUpgradePages(ui::CTabDlg::Pages& pages, MainWindowContext& context) {
  pages[kUpgradePage] = [&context](const ui::AdvancedPageContext& range, QWidget* parent) {
    auto* page = new config::CYarq_UploaderDlg(context.app, context.prompt, parent);
    page->SetModules(RangeAddresses(range));
    return page;
  };
  pages[kNetworkPage] = [&context](const ui::AdvancedPageContext&, QWidget* parent) {
    auto* page = new backup::CUDPServerDlg(context.app, context.prompt, parent);
    backup::CUDPServerDlg::Hooks hooks;
    hooks.upgrade = [&context, page](const std::vector<std::string>& ips) {
      OpenUploader(context, ips, page);
    };
    hooks.tree = [&context, page] {
      topology::ui::OpenTopologyWindow(context.app, context.prompt, page->window());
    };
    using Mode = backup::BackupRunWindow::Mode;
    hooks.backup = [&context, page](const std::vector<std::string>& ips) {
      OpenBackupRun(context, Mode::kBackup, ips, page);
    };
    hooks.restore = [&context, page](const std::vector<std::string>& ips) {
      OpenBackupRun(context, Mode::kRestore, ips, page);
    };
    hooks.restoreByIp = [&context, page](const std::vector<std::string>& ips) {
      OpenBackupRun(context, Mode::kRestoreByIp, ips, page);
    };
    page->SetHooks(std::move(hooks));
    return page;
  };
}
