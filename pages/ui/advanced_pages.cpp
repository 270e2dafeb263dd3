#include "pages/ui/advanced_pages.h"

#include "pages/ui/cflex_zone.h"
#include "pages/ui/csensors.h"
#include "pages/ui/cservice_dlg.h"

namespace pages {

void InstallAdvancedPages(ui::CTabDlg::Pages& pages, FlexZone::Lister lister) {
  pages[4] = [](const ui::AdvancedPageContext& context, QWidget* parent) -> QWidget* {
    return new CServiceDlg(context, MakeSocketModuleLink(), parent);
  };
  pages[6] = [lister](const ui::AdvancedPageContext& context, QWidget* parent) -> QWidget* {
    return new CFlexZone(context, MakeSocketModuleLink(), lister, parent);
  };
  pages[7] = [](const ui::AdvancedPageContext& context, QWidget* parent) -> QWidget* {
    return new CSensors(context, MakeSocketModuleLink(), parent);
  };
}

}  // namespace pages
