// The hand-over report window against the demo line in a lab: Create runs off the GUI thread
// (the window keeps answering while it runs), every module is listed with its state, the files
// are written, and a second module made unreadable is listed in red as not readable.
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <memory>

#include "base/prompt.h"
#include "discovery/mreg_app.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/qt_lab.h"
#include "fixtures/temp_log.h"
#include "report/ui/report_dlg.h"

namespace {

constexpr int kWaitMs = 180000;

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
    QVERIFY(finished.wait(kWaitMs));
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

 private:
  const test::Linesim& line_;
};

}  // namespace

int main(int argc, char** argv) {
  return test::RunQtTestsInLab(
      argc, argv, test::SourceFile("sim/lines/demo.json"),
      [](const test::Lab&, const test::Linesim& line) {
        return std::make_unique<ReportDialogTest>(line);
      },
      300000);
}

#include "report_dialog_test.moc"
