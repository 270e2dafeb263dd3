// The advanced pages against linesim in a lab: the flex zone page's status after Disable All
// (with 120 typed in its time field), the pages in their tabs, the sensors page of a PLC
// module and the special services page of a board without the operating-time reset; the
// modules an operation did not write, told together at its end.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/prompt.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/mreg_app.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/qt_lab.h"
#include "gui/runner/gui_tests.h"
#include "pages/ui/advanced_pages.h"
#include "pages/ui/cflex_zone.h"
#include "pages/ui/csensors.h"
#include "pages/ui/cservice_dlg.h"
#include "ui/ctab_dlg.h"

namespace {

constexpr int kPagesWaitMs = 60000;

class PagesGuiTest : public QObject {
  Q_OBJECT
 public:
  explicit PagesGuiTest(const test::Linesim& line) : line_(line) {}

 private:
  pages::FlexZone::Lister Lister() {
    return [this] {
      std::vector<std::shared_ptr<CNode_Data>> nodes;
      std::vector<pages::ListedModule> modules;
      app_.discoverDone = 0;
      if (app_.Discover(true, &nodes) != 1) return modules;
      for (const auto& node : nodes) modules.push_back({node->ipText, node->serialNumber});
      return modules;
    };
  }
  ui::AdvancedPageContext Context(int from, int to = 0) {
    ui::AdvancedPageContext context;
    context.networkAddress = "192.168.202.20";
    context.fromNode = from;
    context.toNode = to;
    context.prompt = &prompt_;
    return context;
  }
  // The failure texts the pages told since the last call.
  std::vector<std::string> Told() {
    std::vector<std::string> told;
    for (const auto& shown : prompt_.History()) {
      if (shown.icon == base::PromptIcon::Error) told.push_back(shown.text);
    }
    told.erase(told.begin(), told.begin() + static_cast<long>(std::min(told.size(), seen_)));
    seen_ += told.size();
    return told;
  }

  const test::Linesim& line_;
  base::ScriptedPrompt prompt_;
  size_t seen_ = 0;
  CMRegApp app_;
  discovery::ScopedConnectInventory inventory_{app_};

 private slots:
  void flexZoneStatusAfterDisableAll() {
    pages::CFlexZone page(Context(1), pages::MakeSocketModuleLink(), Lister());
    page.show();
    QVERIFY(QTest::qWaitFor([&] { return !page.Busy() && page.ShownView().buttonsEnabled; },
                            kPagesWaitMs));
    auto* count = page.findChild<QLabel*>(QStringLiteral("count"));
    auto* status = page.findChild<QLabel*>(QStringLiteral("status"));
    auto* time = page.findChild<QLineEdit*>(QStringLiteral("time"));
    auto* disableAll = page.findChild<QPushButton*>(QStringLiteral("disableAll"));
    QCOMPARE(count->text(), QStringLiteral("12 Module sind gefunden worden."));
    time->selectAll();
    QTest::keyClicks(time, QStringLiteral("120"));
    QVERIFY(disableAll->isEnabled());
    QTest::mouseClick(disableAll, Qt::LeftButton);
    QVERIFY(page.Busy());
    QVERIFY(!disableAll->isEnabled());  // no second operation while one runs
    QVERIFY(QTest::qWaitFor([&] { return !page.Busy(); }, kPagesWaitMs));
    QCOMPARE(status->text(), QStringLiteral("Flex Zone an allen Modulen abgeschaltet."));
    QCOMPARE(status->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QCOMPARE(time->text(), QStringLiteral("50"));  // 50 ms, whatever was typed
    for (const auto& module : line_.List()) {
      QCOMPARE(line_.Read(module.serial, 21, 1, true)[0], uint16_t{1});
      QCOMPARE(line_.Read(module.serial, 112, 1, true)[0], uint16_t{50});
    }
    // Enable All turns the sentence black again.
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("enableAll")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !page.Busy(); }, kPagesWaitMs));
    QCOMPARE(status->text(), QStringLiteral("Flex Zone an allen Modulen angeschaltet."));
    QCOMPARE(status->palette().color(QPalette::WindowText), QColor(0, 0, 0));
  }

  void pagesSitInTheirTabs() {
    ui::CTabDlg::Pages factories;
    pages::InstallAdvancedPages(factories, Lister());
    ui::CTabDlg dialog(Context(1), factories);
    QCOMPARE(dialog.Tabs()->widget(4)->objectName(), QStringLiteral("CServiceDlg"));
    QCOMPARE(dialog.Tabs()->widget(6)->objectName(), QStringLiteral("CFlexZone"));
    QCOMPARE(dialog.Tabs()->widget(7)->objectName(), QStringLiteral("CSensors"));
  }

  void sensorsOfAPlcModuleAreLocked() {
    line_.Write(3100202, 34, {0x0010}, false);
    pages::CSensors page(Context(8), pages::MakeSocketModuleLink());
    page.show();
    QVERIFY(
        QTest::qWaitFor([&] { return page.ShownView().connected && !page.Busy(); }, kPagesWaitMs));
    QVERIFY(page.ShownView().locked);
    QVERIFY(!page.findChild<QLabel*>(QStringLiteral("lock"))->text().isEmpty());
    // The toggle writes register 34 back unchanged.
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("toggleBlockedLeft")),
                      Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !page.Busy(); }, kPagesWaitMs));
    QCOMPARE(line_.Read(3100202, 34, 1, true)[0], uint16_t{0x0010});
  }

  void servicesHideTheHoursResetOnBoard0x900() {
    line_.Write(3100102, 17, {0x0903}, false);
    pages::CServiceDlg page(Context(2), pages::MakeSocketModuleLink());
    page.show();
    QVERIFY(
        QTest::qWaitFor([&] { return page.ShownView().connected && !page.Busy(); }, kPagesWaitMs));
    QVERIFY(!page.findChild<QGroupBox*>(QStringLiteral("hours"))->isVisible());
    QVERIFY(page.findChild<QPushButton*>(QStringLiteral("shortCircuit"))->isEnabled());
  }

  // The modules below are killed for one test each and revived at its end.
  void servicesTellACommandTheModuleDidNotTake() {
    pages::CServiceDlg page(Context(5), pages::MakeSocketModuleLink());
    page.show();
    QVERIFY(
        QTest::qWaitFor([&] { return page.ShownView().connected && !page.Busy(); }, kPagesWaitMs));
    Told();
    line_.Kill(3100105);
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("shortCircuit")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !page.Busy(); }, kPagesWaitMs));
    line_.Revive(3100105);
    QCOMPARE(Told(),
             std::vector<std::string>{"Connection to the module \"192.168.202.24\" is lost !"});
  }

  void sensorsSetAllTellsTheModulesItDidNotWrite() {
    pages::CSensors page(Context(2, 4), pages::MakeSocketModuleLink());
    page.show();
    QVERIFY(
        QTest::qWaitFor([&] { return page.ShownView().connected && !page.Busy(); }, kPagesWaitMs));
    Told();
    line_.Kill(3100103);
    page.SetAllSensors(false);
    QVERIFY(page.Busy());
    QVERIFY(QTest::qWaitFor([&] { return !page.Busy(); }, kPagesWaitMs));
    line_.Revive(3100103);
    // The range went on past the dead module; it alone is named, once, at the end.
    QCOMPARE(Told(), std::vector<std::string>{"Set All Sensors this way failed on 1 module(s):\n"
                                              "192.168.202.22: not written or not saved\n"});
  }

  void flexZoneTellsTheModulesItDidNotWrite() {
    pages::CFlexZone page(Context(1), pages::MakeSocketModuleLink(), Lister());
    page.show();
    QVERIFY(QTest::qWaitFor([&] { return !page.Busy() && page.ShownView().buttonsEnabled; },
                            kPagesWaitMs));
    Told();
    line_.Kill(3100206);
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("setAll")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !page.Busy(); }, kPagesWaitMs));
    line_.Revive(3100206);
    QCOMPARE(page.ShownView().failed, std::vector<std::string>{"192.168.202.31"});
    QCOMPARE(Told(), std::vector<std::string>{"Set All failed on 1 module(s):\n"
                                              "192.168.202.31: not written or not saved\n"});
  }
};

int RunPagesTest(int argc, char** argv) {
  return test::RunQtTestsInLab(
      argc, argv, test::SourceFile("sim/lines/demo.json"),
      [](const test::Lab&, const test::Linesim& line) {
        return std::make_unique<PagesGuiTest>(line);
      },
      600000);
}
const test::GuiTest kPagesTestRegistered("pages_test", RunPagesTest);
}  // namespace

#include "pages_test.moc"
