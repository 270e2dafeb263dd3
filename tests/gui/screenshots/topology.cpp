// The topology window on the demo line: as it comes up, with a module whose configuration id
// does not match its chain's (drawn red, with its error tip), and during an AutoConfig's
// countdown. The AutoConfig is sent to the line, so this part runs after the others.
#include <QLabel>
#include <QPushButton>
#include <cstdio>

#include "discovery/mreg_app.h"
#include "shots.h"
#include "topology/node_command.h"
#include "topology/ui/cpl_dlg.h"
#include "topology/ui/cpl_view.h"

namespace {

constexpr uint32_t kChain1[] = {3100101, 3100102, 3100103, 3100104, 3100105, 3100106};
constexpr uint32_t kLastOfChain2 = 3100206;
constexpr int kTopologyWaitMs = 60000;

int RenderTopology(shots::Context& context) {
  int failures = 0;
  CMRegApp app(&context.prompt);
  topology::ui::CPLDlg dialog(app, context.prompt);
  dialog.resize(1280, 700);
  dialog.show();
  auto idle = [&] { return !dialog.Worker().LongWorkPending(); };
  if (!shots::WaitFor([&] { return dialog.RunsShown() >= 1 && idle(); }, kTopologyWaitMs)) {
    std::printf("the topology window did not draw the demo line\n");
    return 1;
  }
  // A range selected along the first chain.
  dialog.View()->SelectRange(kChain1[1], kChain1[3]);
  failures += !shots::Save(&dialog, context.folder, QStringLiteral("topology_demo_line.png"));

  // A module of the first chain with another configuration id than its neighbours.
  for (uint32_t serial : kChain1) {
    const uint16_t last = serial == kChain1[2] ? 0x9999 : 0x4444;
    context.line.Write(serial, 1, {0x1111, 0x2222, 0x3333, last});
  }
  dialog.View()->ClearSelection();
  dialog.DiscoverAndRedraw();
  if (!shots::WaitFor([&] { return dialog.RunsShown() >= 2 && idle(); }, kTopologyWaitMs))
    ++failures;
  topology::ui::CPLView* view = dialog.View();
  const int faulty = view->Drawing().FindDeviceBySerial(kChain1[2]);
  QLabel tip;  // the error tip as the mouse shows it, drawn into the picture
  if (faulty > 0) {
    tip.setParent(view);
    tip.setText(view->ErrorTipOf(faulty));
    tip.setStyleSheet(QStringLiteral(
        "QLabel { background: #fff3f3; color: #b71c1c; border: 1px solid #c62828; padding: "
        "3px; }"));
    tip.adjustSize();
    tip.move(view->CentreOf(faulty) + QPoint(16, 64));
    tip.show();
  }
  failures += !shots::Save(&dialog, context.folder, QStringLiteral("topology_faulty_module.png"));
  tip.hide();
  for (uint32_t serial : kChain1) context.line.Write(serial, 1, {0, 0, 0, 0});
  dialog.DiscoverAndRedraw();
  if (!shots::WaitFor([&] { return dialog.RunsShown() >= 3 && idle(); }, kTopologyWaitMs))
    ++failures;
  dialog.View()->SelectRange(kLastOfChain2, kLastOfChain2);

  // AutoConfig from the end of the second chain: the countdown while the modules work.
  dialog.RunCommand(topology::kCommandAutoConfig, kLastOfChain2);
  if (!shots::WaitFor([&] { return dialog.CountdownSeconds() > 0; }, kTopologyWaitMs)) ++failures;
  const int first = dialog.CountdownSeconds();
  shots::WaitFor(
      [&] { return dialog.CountdownSeconds() > 0 && dialog.CountdownSeconds() < first - 2; }, 8000);
  failures += !shots::Save(&dialog, context.folder, QStringLiteral("topology_autoconfig.png"));
  // End the wait; the window redraws and closes.
  if (auto* cancel = dialog.findChild<QPushButton*>(QStringLiteral("cancelWait"))) cancel->click();
  shots::WaitFor(idle, kTopologyWaitMs);
  return failures;
}

const shots::Registrar kTopologyShots("9_topology", RenderTopology);

}  // namespace
