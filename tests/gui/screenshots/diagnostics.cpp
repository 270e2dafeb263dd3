// The diagnostic windows on the first module of the demo line with faults put in through
// linesim's control socket: logged events, motor faults, stop reasons, zone errors and sensor
// states. The registers written are put back afterwards for the parts that follow.
#include <QLineEdit>
#include <cstdio>

#include "diag/ui/diagnostic_log_dlg.h"
#include "diag/ui/diagnostic_screen_window.h"
#include "diag/ui/diagnostic_screens.h"
#include "diag/ui/drive_history_dlg.h"
#include "diag/ui/statistics_dlg.h"
#include "params/ui/cmreg_dlg.h"
#include "shots.h"

namespace {

constexpr uint32_t kFaultedModule = 3100101;  // node 1 of the demo line

struct Register {
  uint16_t number;
  uint16_t value;
};
// Counters, the last reset, motor faults, stop reasons, zone errors and sensors.
constexpr Register kFaults[] = {
    {23, 3},
    {265, 12},
    {286, 5},
    {287, 2},
    {275, 0x0200},
    {58, 0x0A00},  // left motor: not
                   // connected,
                   // overcurrent
    {82, 0x2100},  // right motor: blocked, overheated
    {104, 0},
    {373, 7},
    {383, 13},
    {108, 0x3},
    {35, 0x1},
    {36, 0x2},
    {282, 17},
};

void PutFaults(const test::Linesim& line) {
  for (const Register& reg : kFaults) line.Write(kFaultedModule, reg.number, {reg.value});
  const struct {
    int category, code, parameter;
    uint32_t ageMs;
  } events[] = {{1, 11, 230, 61001}, {2, 15, 0, 3725004},  {6, 21, 0, 90061001}, {5, 1, 1, 12000},
                {4, 1, 0, 400000},   {3, 7, 0x0203, 5000}, {1, 12, 241, 60001}};
  for (const auto& e : events) {
    line.Ok({{"cmd", "event"},
             {"module", kFaultedModule},
             {"category", e.category},
             {"code", e.code},
             {"parameter", e.parameter},
             {"ageMs", e.ageMs}});
  }
}

void TakeFaultsBack(const test::Linesim& line) {
  for (const Register& reg : kFaults) {
    const bool flag = reg.number == 104;
    if (!flag) line.Write(kFaultedModule, reg.number, {0});
  }
}

int RenderDiagnostics(shots::Context& context) {
  int failures = 0;
  PutFaults(context.line);
  {
    params::CMRegDlg screen(params::MakeSocketNodeLink(), context.prompt, context.profile);
    params::CMRegDlg::Screens screens = diag::WithDiagnosticScreens(screen);
    screen.SetScreens(screens);
    screen.show();
    shots::WaitFor([&] { return screen.ShownView().fieldsSerial > 0; }, 5000);
    screen.findChild<QLineEdit*>(QStringLiteral("from"))->setText(QStringLiteral("1"));
    screen.Refresh();
    const bool connected = shots::WaitFor(
        [&] { return screen.ShownView().connected && screen.ShownView().node == 1; }, 20000);
    if (!connected) std::printf("node 1 did not connect\n");
    failures += !connected;

    screens.diagnosticScreen();
    auto* view = screen.findChild<diag::DiagnosticScreen*>();
    failures += !view || !shots::WaitFor([&] { return view->Shown().reachable; }, 20000);
    if (view) failures += !shots::Save(view, context.folder, QStringLiteral("diag_screen.png"));

    screens.statistics();
    auto* statistics = screen.findChild<diag::CDlgDiagnostic*>();
    failures += !statistics || !shots::WaitFor([&] { return statistics->ReadsShown() > 0; }, 30000);
    if (statistics) {
      failures += !shots::Save(statistics, context.folder, QStringLiteral("diag_statistics.png"));
    }

    screens.diagnosticLog();
    auto* log = screen.findChild<diag::CDiagnosticLog*>();
    failures += !log || !shots::WaitFor([&] { return log->ReadsShown() > 0; }, 20000);
    if (log) failures += !shots::Save(log, context.folder, QStringLiteral("diag_log.png"));

    screens.driveHistory();
    auto* history = screen.findChild<diag::UxMtrHistory*>();
    failures += !history || !shots::WaitFor([&] { return history->ReadsShown() > 0; }, 20000);
    if (history) {
      failures += !shots::Save(history, context.folder, QStringLiteral("diag_history.png"));
    }
  }
  TakeFaultsBack(context.line);
  return failures;
}

const shots::Registrar kDiagnosticsShots("diagnostics", RenderDiagnostics);

}  // namespace
