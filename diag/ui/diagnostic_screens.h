#pragma once
// The diagnostic windows as the node screen opens them: statistics, diagnostic log, drive
// history and the diagnostic screen, each for the node screen's module, one of each at a time
// (opening it again brings it to the front).
#include "params/ui/cmreg_dlg.h"

namespace diag {

// `others` keeps the openers the program installs besides these (merger, drive controller).
params::CMRegDlg::Screens WithDiagnosticScreens(params::CMRegDlg& screen,
                                                params::CMRegDlg::Screens others = {});

}  // namespace diag
