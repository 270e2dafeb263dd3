#pragma once
// The factories of the advanced functions window's pages built here: "Besondere Dienste"
// (tab 4), "Flex Zone" (tab 6) and "Sensoren" (tab 7), each over the register client.
#include "pages/flex_zone.h"
#include "ui/ctab_dlg.h"

namespace pages {

// Installs the three pages into `pages`. `lister` runs the discovery of the flex zone page
// (on the page's worker).
void InstallAdvancedPages(ui::CTabDlg::Pages& pages, FlexZone::Lister lister);

}  // namespace pages
