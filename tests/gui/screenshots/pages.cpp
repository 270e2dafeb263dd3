// Screenshots of the advanced pages in the advanced functions window: special services
// (tab 4), flex zone (tab 6, after Disable All) and sensors (tab 7, a reversed module and a
// PLC module with its settings locked).
#include <QTabWidget>

#include "discovery/connect_inventory_link.h"
#include "discovery/mreg_app.h"
#include "pages/ui/advanced_pages.h"
#include "pages/ui/cflex_zone.h"
#include "pages/ui/csensors.h"
#include "pages/ui/cservice_dlg.h"
#include "shots.h"
#include "ui/ctab_dlg.h"

namespace {

constexpr int kPageWaitMs = 60000;

template <typename Page>
bool WaitIdle(ui::CTabDlg& dialog, int tab) {
  auto* page = qobject_cast<Page*>(dialog.Tabs()->widget(tab));
  if (!page) return false;
  return shots::WaitFor([page] { return !page->Busy() && page->ShownView().connected; },
                        kPageWaitMs);
}

int RenderPages(shots::Context& context) {
  CMRegApp app(&context.prompt, &context.profile);
  discovery::ScopedConnectInventory inventory(app);
  ui::CTabDlg::Pages factories;
  pages::InstallAdvancedPages(factories, [&app] {
    std::vector<std::shared_ptr<CNode_Data>> nodes;
    std::vector<pages::ListedModule> modules;
    app.discoverDone = 0;
    if (app.Discover(true, &nodes) != 1) return modules;
    for (const auto& node : nodes) modules.push_back({node->ipText, node->serialNumber});
    return modules;
  });
  auto open = [&](int from, int to, int tab) {
    ui::AdvancedPageContext pageContext;
    pageContext.networkAddress = "192.168.202.20";
    pageContext.fromNode = from;
    pageContext.toNode = to;
    auto dialog = std::make_unique<ui::CTabDlg>(pageContext, factories);
    dialog->Tabs()->setCurrentIndex(tab);
    dialog->show();
    return dialog;
  };
  int failures = 0;

  {  // Special services of node 3 (a board with the operating-time reset), Touch & Go on.
    context.line.Write(3100103, 94, {0x2001}, false);
    auto dialog = open(3, 6, 4);
    failures += !WaitIdle<pages::CServiceDlg>(*dialog, 4);
    failures += !shots::Save(dialog.get(), context.folder, QStringLiteral("page_services.png"));
  }
  {  // Flex zone of the demo line's network after Disable All.
    auto dialog = open(1, 6, 6);
    auto* page = qobject_cast<pages::CFlexZone*>(dialog->Tabs()->widget(6));
    const bool listed =
        page &&
        shots::WaitFor([page] { return !page->Busy() && !page->ShownView().countText.empty(); },
                       kPageWaitMs);
    failures += !listed;
    if (listed) {
      page->DisableAll();
      failures += !shots::WaitFor([page] { return !page->Busy(); }, kPageWaitMs);
    }
    failures += !shots::Save(dialog.get(), context.folder, QStringLiteral("page_flex_zone.png"));
  }
  {  // Sensors of the reversed module (node 4) and of the PLC module (node 8).
    context.line.Write(3100104, 34, {0x0041}, false);
    auto dialog = open(4, 6, 7);
    failures += !WaitIdle<pages::CSensors>(*dialog, 7);
    failures += !shots::Save(dialog.get(), context.folder, QStringLiteral("page_sensors.png"));
  }
  {
    auto dialog = open(8, 0, 7);
    failures += !WaitIdle<pages::CSensors>(*dialog, 7);
    failures +=
        !shots::Save(dialog.get(), context.folder, QStringLiteral("page_sensors_locked.png"));
  }
  return failures;
}

const shots::Registrar pagesShots("5_advanced_pages", RenderPages);

}  // namespace
