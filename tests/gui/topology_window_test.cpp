// The topology window (CPLDlg) against linesim's demo line in a lab: it draws both chains in
// their order and directions, a rubber band selects a range with the right ends, Replace is
// disabled for a range, a module with a wrong configuration id is drawn red, and AutoConfig
// waits with a countdown while the window stays live. The test process makes the lab and starts
// linesim; the Qt tests run in a child that has entered the lab's PC namespace.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "base/prompt.h"
#include "discovery/mreg_app.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/qt_lab.h"
#include "gui/runner/gui_tests.h"
#include "topology/node_command.h"
#include "topology/set_address.h"
#include "topology/ui/cpl_dlg.h"
#include "topology/ui/cpl_view.h"

namespace {

using topology::ui::CPLDlg;
using topology::ui::CPLView;

constexpr int kTopologyWaitMs = 60000;
const uint32_t kChain1[] = {3100101, 3100102, 3100103, 3100104, 3100105, 3100106};
const uint32_t kChain2[] = {3100201, 3100202, 3100203, 3100204, 3100205, 3100206};

class TopologyWindowTest : public QObject {
  Q_OBJECT
 public:
  explicit TopologyWindowTest(const test::Linesim& line) : line_(line) {}

 private:
  const test::Linesim& line_;
  base::ScriptedPrompt prompt_;
  std::unique_ptr<CMRegApp> app_;
  std::unique_ptr<CPLDlg> dialog_;

  CPLView* View() { return dialog_->View(); }
  const topology::CPLViewDevice& Device(uint32_t serial) {
    const int index = View()->Drawing().FindDeviceBySerial(serial);
    if (index < 0) qFatal("module %u is not drawn", serial);
    return View()->Drawing().devices[static_cast<size_t>(index)];
  }
  int IndexOf(uint32_t serial) { return View()->Drawing().FindDeviceBySerial(serial); }
  // A run is over for the user when its drawing is shown and the window has left its busy
  // state: the worker's end of the job and the window's busy change arrive as separate events.
  bool WaitRuns(int runs) {
    return QTest::qWaitFor(
        [&] {
          return dialog_->RunsShown() >= runs && !dialog_->Worker().LongWorkPending() &&
                 !dialog_->Busy();
        },
        kTopologyWaitMs);
  }
  void Send(QEvent::Type type, const QPoint& at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, at, View()->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(View(), &event);
  }
  void Band(const QPoint& from, const QPoint& to) {
    Send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  }
  static QAction* Action(QMenu* menu, const char* name) {
    for (QAction* action : menu->actions()) {
      if (action->objectName() == QLatin1String(name)) return action;
    }
    return nullptr;
  }

 private slots:
  void initTestCase() {
    app_ = std::make_unique<CMRegApp>(&prompt_);
    dialog_ = std::make_unique<CPLDlg>(*app_, prompt_);
    dialog_->show();
    QVERIFY(WaitRuns(1));
  }

  void cleanupTestCase() {
    dialog_.reset();
    app_.reset();
  }

  void drawsTheDemoLine() {
    const topology::DeviceArray& drawing = View()->Drawing();
    QCOMPARE(drawing.ModuleCount(), size_t{12});
    QCOMPARE(dialog_->windowTitle(),
             QStringLiteral("PL Conveyors Dialog - (12 Module sind dargestellt)"));
    QCOMPARE(dialog_->findChild<QLabel*>(QStringLiteral("count"))->text(),
             QStringLiteral("Entdeckt = 12, angezeigt = 12"));
    // Each chain in a row of its own, in the line file's order from the PC's switch outwards.
    for (const auto* chain : {kChain1, kChain2}) {
      const uint16_t row = Device(chain[0]).row;
      for (int position = 0; position < 6; ++position) {
        const topology::CPLViewDevice& device = Device(chain[position]);
        QCOMPARE(int(device.row), int(row));
        QCOMPARE(int(device.column), 5 * (position + 1));
        QCOMPARE(device.error, 0u);
      }
    }
    QVERIFY(Device(kChain1[0]).row != Device(kChain2[0]).row);
    QCOMPARE(Device(kChain1[0]).direction, topology::kLeftToRight);
    QCOMPARE(Device(kChain2[0]).direction, topology::kRightToLeft);
    // The pictures are really painted: the module's picture differs from the background.
    const QImage image = View()->grab().toImage();
    const QPoint centre = View()->CentreOf(IndexOf(kChain1[2]));
    QVERIFY(image.pixelColor(centre) != image.pixelColor(QPoint(2, 2)));
    // Tool tips of a module.
    QVERIFY(View()
                ->ToolTipOf(IndexOf(kChain1[1]))
                .contains(QStringLiteral("Ser.No: 3100102; Rev.No: 4.14; IP: 192.168.202.21;")));
    QVERIFY(View()->ErrorTipOf(IndexOf(kChain1[1])).isEmpty());
  }

  void subnetFilterListsTheModules() {
    auto* subnet = dialog_->findChild<QComboBox*>(QStringLiteral("subnet"));
    QCOMPARE(subnet->count(), 2);
    QCOMPARE(subnet->itemText(0), QStringLiteral("<<< Alle Netzwerke >>>"));
    QCOMPARE(subnet->itemText(1), QStringLiteral("192.168.202.0"));
    subnet->setCurrentIndex(1);
    auto* list = dialog_->findChild<QTreeWidget*>(QStringLiteral("modules"));
    QCOMPARE(list->topLevelItemCount(), 12);
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("192.168.202.21, 3100102, 4.14"));
    QCOMPARE(dialog_->findChild<QLabel*>(QStringLiteral("count"))->text(),
             QStringLiteral("Entdeckt = 12, angezeigt = 12"));
  }

  // The window keeps its node records from run to run: a redraw after two modules changed
  // places draws them in their new places, and their addresses, now out of order along the
  // line, are marked with the ones expected there. Changed back, the line is clean again.
  void aRedrawAfterASwapDrawsTheNewOrder() {
    auto redraw = [&] {
      const int runs = dialog_->RunsShown();
      QTest::mouseClick(dialog_->findChild<QPushButton*>(QStringLiteral("discoverRedraw")),
                        Qt::LeftButton);
      return WaitRuns(runs + 1);
    };
    line_.Ok({{"cmd", "swap"}, {"module", kChain1[1]}, {"with", kChain1[2]}});
    QVERIFY(redraw());
    QCOMPARE(int(Device(kChain1[2]).column), 10);
    QCOMPARE(int(Device(kChain1[1]).column), 15);
    QCOMPARE(int(Device(kChain1[3]).column), 20);
    uint32_t address = 0;
    QVERIFY(ParseAddress("192.168.202.22", &address));
    QCOMPARE(QString::fromStdString(Device(kChain1[2]).errorText),
             QString::fromStdString(topology::ExpectedAddressError(address, 21)));
    QCOMPARE(View()->ErrorTipOf(IndexOf(kChain1[1])),
             QString::fromUtf8("Dieses Subnetz ist nicht richtig konfiguriert. (es wird ein "
                               "Modul mit IP \"192.168.202.22\" erwartet) !?!"));
    QVERIFY(dialog_->windowTitle().contains(QString::fromUtf8("Achtung - 2 mögliches Problem")));

    line_.Ok({{"cmd", "swap"}, {"module", kChain1[1]}, {"with", kChain1[2]}});
    QVERIFY(redraw());
    for (int position = 0; position < 6; ++position) {
      QCOMPARE(int(Device(kChain1[position]).column), 5 * (position + 1));
      QCOMPARE(Device(kChain1[position]).error, 0u);
    }
  }

  // Half of the second chain keeps addresses from before: those modules are drawn red with the
  // address the line's numbering expects of them.
  void aHalfNumberedChainIsDrawnRed() {
    auto redraw = [&] {
      const int runs = dialog_->RunsShown();
      QTest::mouseClick(dialog_->findChild<QPushButton*>(QStringLiteral("discoverRedraw")),
                        Qt::LeftButton);
      return WaitRuns(runs + 1);
    };
    const std::string kept4 = line_.Module(kChain2[4]).address;
    const std::string kept5 = line_.Module(kChain2[5]).address;
    line_.SetNetwork(kChain2[4], "192.168.202.150");
    line_.SetNetwork(kChain2[5], "192.168.202.151");
    QVERIFY(redraw());
    QCOMPARE(View()->Drawing().ModuleCount(), size_t{12});
    for (int position = 0; position < 4; ++position) QCOMPARE(Device(kChain2[position]).error, 0u);
    QCOMPARE(QString::fromStdString(Device(kChain2[4]).errorText),
             QString::fromUtf8("Dieses Subnetz ist nicht richtig konfiguriert. (es wird ein "
                               "Modul mit IP \"192.168.202.30\" erwartet) !?!"));
    QCOMPARE(QString::fromStdString(Device(kChain2[5]).errorText),
             QString::fromUtf8("Dieses Subnetz ist nicht richtig konfiguriert. (es wird ein "
                               "Modul mit IP \"192.168.202.31\" erwartet) !?!"));
    QCOMPARE(Device(kChain2[4]).error, 1u);
    line_.SetNetwork(kChain2[4], kept4);
    line_.SetNetwork(kChain2[5], kept5);
    QVERIFY(redraw());
    QCOMPARE(Device(kChain2[5]).error, 0u);
  }

  // A window closed during its run ends it without a message.
  void closingDuringTheRunEndsItQuietly() {
    const size_t texts = prompt_.Texts().size();
    auto second = std::make_unique<CPLDlg>(*app_, prompt_);
    second->show();
    QVERIFY(QTest::qWaitFor([&] { return second->Busy(); }, kTopologyWaitMs));
    QElapsedTimer closing;
    closing.start();
    second->close();
    second.reset();
    std::printf("closing during the run took %lld ms\n", static_cast<long long>(closing.elapsed()));
    QTest::qWait(100);
    QCOMPARE(prompt_.Texts().size(), texts);
  }

  // Closing does not wait for a network step in progress: the step is released only after the
  // window is gone, and it must not have run out its own time-out by then.
  void closingDoesNotWaitForTheNetwork() {
    struct Latch {
      std::mutex lock;
      std::condition_variable changed;
      bool released = false;
      bool entered = false;
      bool done = false;
      bool timedOut = false;
    };
    auto latch = std::make_shared<Latch>();
    topology::ProcedureSteps steps;
    steps.discover = [latch] {
      std::unique_lock guard(latch->lock);
      latch->entered = true;
      latch->changed.notify_all();
      latch->timedOut = !latch->changed.wait_for(guard, std::chrono::seconds(20),
                                                 [&] { return latch->released; });
      latch->done = true;
      latch->changed.notify_all();
    };
    steps.getTopology = [](NodeList&, std::mutex&) {};
    steps.readModule = [](const std::string&, uint32_t, int, const std::function<bool()>&) {
      return topology::ReaderResult{};
    };
    auto second = std::make_unique<CPLDlg>(*app_, prompt_, false, nullptr, steps);
    second->show();
    QVERIFY(QTest::qWaitFor(
        [&] {
          std::lock_guard guard(latch->lock);
          return latch->entered;
        },
        kTopologyWaitMs));
    second->close();
    second.reset();
    {
      std::unique_lock guard(latch->lock);
      latch->released = true;
      latch->changed.notify_all();
      QVERIFY(
          latch->changed.wait_for(guard, std::chrono::seconds(30), [&] { return latch->done; }));
      QVERIFY(!latch->timedOut);
    }
  }

  void rubberBandSelectsARangeWithItsEnds() {
    const int c = View()->CellSize();
    const topology::CPLViewDevice& second = Device(kChain1[1]);
    const topology::CPLViewDevice& fourth = Device(kChain1[3]);
    // From the picture of the second module to the picture of the fourth, in their row.
    Band(View()->CentreOf(IndexOf(kChain1[1])), View()->CentreOf(IndexOf(kChain1[3])));
    QCOMPARE(View()->RangeCount(), 3);
    QCOMPARE(View()->Drawing().devices[size_t(View()->RangeFirst())].Serial(), kChain1[1]);
    QCOMPARE(View()->Drawing().devices[size_t(View()->RangeLast())].Serial(), kChain1[3]);
    // Dragged the other way round, from below right to above left: the same ends.
    Band(QPoint((fourth.column + 4) * c, (fourth.row + 4) * c),
         QPoint((second.column + 2) * c, (second.row + 2) * c));
    QCOMPARE(View()->RangeCount(), 3);
    QCOMPARE(View()->Drawing().devices[size_t(View()->RangeFirst())].Serial(), kChain1[1]);
    QCOMPARE(View()->Drawing().devices[size_t(View()->RangeLast())].Serial(), kChain1[3]);
  }

  void replaceIsDisabledForARange() {
    Band(View()->CentreOf(IndexOf(kChain1[0])), View()->CentreOf(IndexOf(kChain1[2])));
    QCOMPARE(View()->RangeCount(), 3);
    std::unique_ptr<QMenu> menu(View()->MenuFor(View()->RangeFirst()));
    QVERIFY(menu);
    QVERIFY(Action(menu.get(), "autoConfigFromHere")->isEnabled());
    QVERIFY(!Action(menu.get(), "replaceThisNode")->isEnabled());
    QVERIFY(Action(menu.get(), "factoryReset")->isEnabled());  // the reset is reachable
    QCOMPARE(Action(menu.get(), "replaceThisNode")->text(),
             QStringLiteral("Dieses Modul ersetzen"));
    // A right click on the middle of the range only beeps.
    const size_t beeps = prompt_.CountOf("beep");
    View()->ContextClick(IndexOf(kChain1[1]), QPoint());
    QCOMPARE(prompt_.CountOf("beep"), beeps + 1);
    // One module selected: Replace is offered. A module that cannot take AutoConfig (family
    // 0x02) has no menu.
    QVERIFY(!std::unique_ptr<QMenu>(View()->MenuFor(IndexOf(kChain1[4]))));
    Send(QEvent::MouseButtonPress, View()->CentreOf(IndexOf(kChain1[5])), Qt::LeftButton,
         Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, View()->CentreOf(IndexOf(kChain1[5])), Qt::LeftButton,
         Qt::NoButton);
    QCOMPARE(View()->RangeCount(), 0);
    QCOMPARE(View()->SelectedSerial(), kChain1[5]);
    std::unique_ptr<QMenu> single(View()->MenuFor(IndexOf(kChain1[5])));
    QVERIFY(Action(single.get(), "replaceThisNode")->isEnabled());
  }

  void wrongConfigurationIdIsDrawnRed() {
    // One configuration id for the whole first chain, another for its third module.
    for (uint32_t serial : kChain1) {
      const uint16_t last = serial == kChain1[2] ? 0x9999 : 0x4444;
      line_.Write(serial, 1, {0x1111, 0x2222, 0x3333, last});
    }
    const int runs = dialog_->RunsShown();
    QTest::mouseClick(dialog_->findChild<QPushButton*>(QStringLiteral("discoverRedraw")),
                      Qt::LeftButton);
    QVERIFY(WaitRuns(runs + 1));
    QCOMPARE(Device(kChain1[2]).error, 1u);
    QCOMPARE(QString::fromStdString(Device(kChain1[2]).errorText),
             QString::fromUtf8(topology::kErrorConfiguration));
    QCOMPARE(View()->ErrorTipOf(IndexOf(kChain1[2])),
             QString::fromUtf8("Konfiguration passt nicht."));
    QCOMPARE(Device(kChain1[1]).error, 0u);
    QVERIFY(dialog_->windowTitle().contains(QString::fromUtf8("Achtung - 1 mögliches Problem")));
    // Its LED is painted red.
    const QImage image = View()->grab().toImage();
    bool red = false;
    const QRect cell(QPoint(Device(kChain1[2]).column * View()->CellSize(),
                            Device(kChain1[2]).row * View()->CellSize()),
                     QSize(5 * View()->CellSize(), 5 * View()->CellSize()));
    for (int y = cell.top(); y < cell.bottom() && !red; ++y) {
      for (int x = cell.left(); x < cell.right() && !red; ++x) {
        const QColor colour = image.pixelColor(x, y);
        red = colour.red() > 200 && colour.green() < 90 && colour.blue() < 90;
      }
    }
    QVERIFY(red);
  }

  // AutoConfig from an end of a selected range takes the other end as the last module: the
  // range passes the checks that the first module alone fails (it shares the PC's switch with
  // the other chain). The product-search question is answered No, so nothing is sent.
  void autoConfigFromARangeEndTakesTheOtherEnd() {
    const std::string productSearch = topology::kTextProductSearch;
    const auto shown = [&](const std::string& start) {
      size_t n = 0;
      for (const std::string& text : prompt_.Texts()) n += text.rfind(start, 0) == 0 ? 1 : 0;
      return n;
    };
    const size_t questions = shown(productSearch);
    const size_t refusals = shown("Die folgenden Knoten 1 müssen vom PC-Switch getrennt werden");
    View()->ClearSelection();
    View()->SelectRange(kChain1[0], kChain1[5]);
    QCOMPARE(View()->RangeCount(), 6);
    prompt_.QueueAnswer(base::PromptAnswer::No);
    View()->onCommand(topology::ui::kMenuAutoConfig, kChain1[0]);
    QVERIFY(
        QTest::qWaitFor([&] { return shown(productSearch) == questions + 1; }, kTopologyWaitMs));
    QCOMPARE(shown("Die folgenden Knoten 1 müssen vom PC-Switch getrennt werden"), refusals);
    QVERIFY(QTest::qWaitFor([&] { return !dialog_->Worker().LongWorkPending(); }, kTopologyWaitMs));
    // The same module alone is refused.
    View()->ClearSelection();
    View()->onCommand(topology::ui::kMenuAutoConfig, kChain1[0]);
    QVERIFY(QTest::qWaitFor(
        [&] {
          return shown("Die folgenden Knoten 1 müssen vom PC-Switch getrennt werden") ==
                 refusals + 1;
        },
        kTopologyWaitMs));
    QCOMPARE(shown(productSearch), questions + 1);
    QVERIFY(QTest::qWaitFor([&] { return !dialog_->Worker().LongWorkPending(); }, kTopologyWaitMs));
  }

  // Opened without an opener of its own (as the discovered-modules page opens it), the window
  // still opens the change-of-address dialog for the module.
  void changeOfAddressOpensItsDialogWhoeverOpenedTheWindow() {
    QString shown;
    int polls = 0;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, [&] {
      if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        shown = modal->windowTitle();
        modal->reject();
        poll.stop();
      } else if (++polls > 500) {
        poll.stop();
      }
    });
    poll.start();
    const uint64_t jobs = dialog_->Worker().JobsRun();
    View()->onCommand(topology::ui::kMenuChangeIp, kChain1[5]);
    poll.stop();
    QCOMPARE(shown, QString::fromUtf8(topology::kTitleSetAddress));
    QTest::qWait(100);
    QCOMPARE(dialog_->Worker().JobsRun(), jobs);  // closed without OK: nothing started
  }

  // The change of address opens the program's dialog with the adapter's own record of the
  // module; a dialog that ends with Cancel starts nothing. Commands without a module only say so.
  void changeOfAddressAndCommandsWithoutAModule() {
    NodePtr given;
    dialog_->SetChangeIpOpener([&](const topology::CPLViewDevice& device, QWidget*) {
      given = device.node;
      return false;
    });
    const uint64_t jobs = dialog_->Worker().JobsRun();
    View()->onCommand(topology::ui::kMenuChangeIp, kChain1[5]);
    QVERIFY(given);
    QCOMPARE(given.get(),
             app_->SelectedAdapter()->FindNodeBySerial(kChain1[5], nullptr, true).get());
    QTest::qWait(200);
    QCOMPARE(dialog_->Worker().JobsRun(), jobs);

    View()->onCommand(topology::ui::kMenuAutoConfig, 0);
    QCOMPARE(prompt_.Texts().back(), std::string("Bitte zuerst den online Knoten auswählen."));
    dialog_->findChild<QTreeWidget*>(QStringLiteral("modules"))->setCurrentItem(nullptr);
    QTest::mouseClick(dialog_->findChild<QPushButton*>(QStringLiteral("autoConfig")),
                      Qt::LeftButton);
    QCOMPARE(prompt_.Texts().back(),
             std::string("Bitte den Knoten aus der Liste auswählen, an dem die AutoConfig "
                         "starten soll."));
    QTest::mouseClick(dialog_->findChild<QPushButton*>(QStringLiteral("replace")), Qt::LeftButton);
    QCOMPARE(prompt_.Texts().back(),
             std::string("Bitte den zu ersetzenden Knoten aus der Liste auswählen."));
    QCOMPARE(dialog_->Worker().JobsRun(), jobs);
  }

  // One procedure at a time: while a redraw runs the change of address is refused (a beep)
  // and its dialog does not open.
  void changeOfAddressWaitsForTheRunningProcedure() {
    int opened = 0;
    dialog_->SetChangeIpOpener([&](const topology::CPLViewDevice&, QWidget*) {
      ++opened;
      return false;
    });
    const int runs = dialog_->RunsShown();
    QTest::mouseClick(dialog_->findChild<QPushButton*>(QStringLiteral("discoverRedraw")),
                      Qt::LeftButton);
    QVERIFY(dialog_->Worker().LongWorkPending());
    const size_t beeps = prompt_.CountOf("beep");
    View()->onCommand(topology::ui::kMenuChangeIp, kChain1[5]);
    QCOMPARE(opened, 0);
    QCOMPARE(prompt_.CountOf("beep"), beeps + 1);
    QVERIFY(WaitRuns(runs + 1));
    View()->onCommand(topology::ui::kMenuChangeIp, kChain1[5]);
    QCOMPARE(opened, 1);
  }

  // Last: it sends a real AutoConfig to the line.
  void autoConfigCountsDownWhileTheWindowStaysLive() {
    View()->ClearSelection();
    dialog_->RunCommand(topology::kCommandAutoConfig, kChain2[5]);
    QVERIFY(QTest::qWaitFor([&] { return dialog_->CountdownSeconds() > 0; }, kTopologyWaitMs));
    QVERIFY(dialog_->Busy());
    QVERIFY(dialog_->WaitText().contains(
        QStringLiteral("Die AutoConfig wurde im Netzwerk 192.168.202.0 gestartet.")));
    const int first = dialog_->CountdownSeconds();
    // The wait of the table for the twelve listed modules, in whole seconds.
    QCOMPARE(first,
             int((topology::CommandWaitMs(topology::kCommandAutoConfig, 12, false) + 999) / 1000));
    // The GUI thread keeps painting: the remaining seconds go down.
    QVERIFY(QTest::qWaitFor([&] { return dialog_->CountdownSeconds() < first; }, 5000));
    QVERIFY(!dialog_->findChild<QPushButton*>(QStringLiteral("discoverRedraw"))->isEnabled());
    // Cut the wait short; the redraw follows.
    const int runs = dialog_->RunsShown();
    QTest::mouseClick(dialog_->findChild<QPushButton*>(QStringLiteral("cancelWait")),
                      Qt::LeftButton);
    QVERIFY(WaitRuns(runs + 1));
    QVERIFY(!dialog_->Busy());
  }
};

int RunTopologyWindowTest(int argc, char** argv) {
  return test::RunQtTestsInLab(
      argc, argv, test::SourceFile("sim/lines/demo.json"),
      [](const test::Lab&, const test::Linesim& line) {
        return std::make_unique<TopologyWindowTest>(line);
      },
      600000);
}
const test::GuiTest kTopologyWindowTestRegistered("topology_window_test", RunTopologyWindowTest);
}  // namespace

#include "topology_window_test.moc"
