// The hand-over report window against the demo line in a lab: Create runs off the GUI thread
// (the window keeps answering while it runs), every module is listed with its state, the files
// are written, and a second module made unreadable is listed in red as not readable; STOP
// never replaces a complete report with a cancelled one.
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "base/prompt.h"
#include "discovery/mreg_app.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/qt_lab.h"
#include "fixtures/temp_log.h"
#include "gui/runner/gui_tests.h"
#include "report/ui/report_dlg.h"

namespace {

constexpr int kReportWaitMs = 180000;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ReportDialogTest : public QObject {
  Q_OBJECT
 public:
  explicit ReportDialogTest(const test::Linesim& line) : line_(line) {}

 private slots:
  void CreateListsEveryModuleAndWritesTheFiles() {
    base::SilentPrompt prompt;
    CMRegApp app(&prompt);
    fixtures::TempFolder folder;
    const uint32_t dead = line_.List()[4].serial;
    line_.SetFault(dead, {{"drop", 1}, {"discovery", false}});
    report::CReportDlg dialog(app);
    dialog.show();
    dialog.SetFolderText(QString::fromStdString(folder.path() + "/report"));
    QSignalSpy finished(&dialog, &report::CReportDlg::finished);
    QTest::mouseClick(dialog.findChild<QPushButton*>("create"), Qt::LeftButton);
    QVERIFY(dialog.Running());
    // The window answers while the run goes on: Close is refused with a hint, not a freeze.
    dialog.reject();
    QVERIFY(dialog.isVisible());
    QVERIFY(finished.wait(kReportWaitMs));
    QCOMPARE(finished.first().first().toBool(), true);
    QVERIFY(!dialog.Running());
    auto* modules = dialog.findChild<QListWidget*>("modules");
    QCOMPARE(modules->count(), static_cast<int>(line_.List().size()));
    int red = 0;
    for (int k = 0; k < modules->count(); ++k) {
      if (modules->item(k)->text().contains(QStringLiteral("nicht lesbar"))) {
        ++red;
        QVERIFY(modules->item(k)->text().contains(QString::number(dead)));
        QCOMPARE(modules->item(k)->foreground().color(), QColor(Qt::red));
      }
    }
    QCOMPARE(red, 1);
    QVERIFY(std::filesystem::exists(folder.path() + "/report/report.html"));
    QVERIFY(dialog.findChild<QPushButton*>("open")->isEnabled());
    line_.ClearFaults(dead);
  }

  // STOP ends a run without writing: the complete report of an earlier run stays as it was.
  void stopKeepsAnEarlierCompleteReport() {
    base::SilentPrompt prompt;
    CMRegApp app(&prompt);
    fixtures::TempFolder folder;
    const std::string html = folder.path() + "/report/report.html";
    report::CReportDlg dialog(app);
    dialog.show();
    dialog.SetFolderText(QString::fromStdString(folder.path() + "/report"));
    QSignalSpy finished(&dialog, &report::CReportDlg::finished);
    auto* create = dialog.findChild<QPushButton*>("create");
    QTest::mouseClick(create, Qt::LeftButton);
    QVERIFY(finished.wait(kReportWaitMs));
    QCOMPARE(finished.takeFirst().first().toBool(), true);
    const std::string complete = ReadText(html);
    QVERIFY(complete.find("not read (cancelled)") == std::string::npos);

    QTest::mouseClick(create, Qt::LeftButton);
    QVERIFY(dialog.Running());
    QTest::mouseClick(dialog.findChild<QPushButton*>("stop"), Qt::LeftButton);
    QVERIFY(finished.wait(kReportWaitMs));
    QCOMPARE(finished.takeFirst().first().toBool(), false);
    QCOMPARE(ReadText(html), complete);
    QVERIFY(dialog.findChild<QLabel*>("state")->text().contains(QStringLiteral("Angehalten")));
    QVERIFY(!dialog.findChild<QPushButton*>("open")->isEnabled());
  }

 private:
  const test::Linesim& line_;
};

int RunReportDialogTest(int argc, char** argv) {
  return test::RunQtTestsInLab(
      argc, argv, test::SourceFile("sim/lines/demo.json"),
      [](const test::Lab&, const test::Linesim& line) {
        return std::make_unique<ReportDialogTest>(line);
      },
      300000);
}
const test::GuiTest kReportDialogTestRegistered("report_dialog_test", RunReportDialogTest);
}  // namespace

#include "report_dialog_test.moc"
