// The time left on a progress bar: none before a second has passed, then an estimate, and none
// again once the bar starts over.
#include <QProgressBar>
#include <QTest>

#include "gui/runner/gui_tests.h"
#include "ui/time_left.h"

class TimeLeftTest : public QObject {
  Q_OBJECT
 private slots:
  void ShowsTheTimeLeftOnceItCanBeEstimated() {
    QProgressBar bar;
    bar.setRange(0, 100);
    uint64_t nowMs = 5000;
    ui::ShowTimeLeft(&bar, [&nowMs] { return nowMs; });
    bar.setValue(0);
    bar.setValue(10);
    QCOMPARE(bar.format(), QStringLiteral("%p%"));  // too early to say
    nowMs += 1100;
    bar.setValue(50);
    QVERIFY2(bar.format().startsWith(QStringLiteral("%p% - noch 0:0")), qPrintable(bar.format()));
    bar.setValue(0);  // a new run
    QCOMPARE(bar.format(), QStringLiteral("%p%"));
    bar.setValue(100);
    QCOMPARE(bar.format(), QStringLiteral("%p%"));  // done
  }
};

const test::GuiTest kTimeLeftTestRegistered("time_left_test",
                                            test::RunQtTestObject<QApplication, TimeLeftTest>);
#include "time_left_test.moc"
