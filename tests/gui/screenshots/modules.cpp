// The discovered-modules page after a discovery of the demo line (all networks, one module
// chosen), and the upgrade page after a run on one module with a synthetic firmware file.
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <cstdio>
#include <fstream>

#include "backup/ui/udp_server_dlg.h"
#include "config/ui/yarq_uploader_dlg.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/mreg_app.h"
#include "shots.h"

namespace {

int RenderModulePages(shots::Context& context) {
  int failures = 0;
  CMRegApp app(&context.prompt, &context.profile);
  discovery::ScopedConnectInventory link(app);
  {
    backup::CUDPServerDlg page(app, context.prompt);
    page.resize(900, 600);
    page.show();
    page.Discover();
    shots::WaitFor([&] { return !page.Busy() && page.ListLines().size() > 0; }, 20000);
    if (auto* list = page.findChild<QListWidget*>("modules"); list && list->count() > 2) {
      list->setCurrentRow(2);
      list->item(2)->setSelected(true);
    }
    failures += !shots::Save(&page, context.folder, "modules_page.png");
  }
  {
    config::CYarq_UploaderDlg window(app, context.prompt);
    window.resize(760, 520);
    config::UpgradeOptions options;
    options.resetWaitMs = 100;
    options.restartWaitMs = 2500;
    window.SetOptions(options);
    window.SetModules({"192.168.202.22", "192.168.202.23"});
    window.show();
    const std::string path = QDir::tempPath().toStdString() + "/Brevantrix_4_16.bin";
    {
      std::string bytes(60000, 'x');
      const uint32_t word = 0xE59FF018u;
      bytes.replace(0, 4, reinterpret_cast<const char*>(&word), 4);
      std::ofstream(path, std::ios::binary) << bytes;
    }
    if (window.ChooseFile(path) && window.StartUpload(true)) {
      shots::WaitFor([&] { return !window.Running(); }, 60000);
      QCoreApplication::processEvents();
    }
    failures += !shots::Save(&window, context.folder, "upgrade_page.png");
    std::remove(path.c_str());
  }
  return failures;
}

const shots::Registrar kModules("modules", RenderModulePages);

}  // namespace
