#include "upgrade_pages.h"

#include <QDialog>
#include <QVBoxLayout>

#include "backup/ui/udp_server_dlg.h"
#include "topology/ui/cpl_dlg.h"
#include "base/format.h"
#include "config/ui/yarq_uploader_dlg.h"
#include "discovery/inventory.h"

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
    // Backup and restore are wired where their run window is installed.
    page->SetHooks(std::move(hooks));
    return page;
  };
}
