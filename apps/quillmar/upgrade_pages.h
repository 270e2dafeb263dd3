#pragma once
// The advanced window's "Upgrade" and "Netzwerk Einstellungen" pages, installed into the page
// factories the program hands the node screen.
#include "main_window.h"
#include "ui/ctab_dlg.h"

void InstallUpgradePages(ui::CTabDlg::Pages& pages, MainWindowContext& context);
