// The adapter chooser: its German texts, OK without a selection, double-click, Cancel.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "discovery/ui/choose_nic_dialog.h"
#include "gui/runner/gui_tests.h"

class ChooseNicTest : public QObject {
  Q_OBJECT

 private:
  const std::vector<std::string> entries_ = {"veth0 192.168.202.10 - (3 Knoten)",
                                             "veth1 192.168.203.10 - (12 Knoten)",
                                             "eth2 10.0.0.5 - (1 Knoten)"};

  // Clicks a button of the modal chooser once it is up.
  static void WhenModal(std::function<void(CDlg_ChooseNIC*)> action) {
    QTimer::singleShot(0, [action] {
      auto* dialog = qobject_cast<CDlg_ChooseNIC*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      action(dialog);
    });
  }

 private slots:
  void showsGermanTextsAndTheEntriesInOrder() {
    CDlg_ChooseNIC dialog;
    dialog.SetEntries(entries_);
    QCOMPARE(dialog.windowTitle(),
             QString::fromUtf8("Bitte auswählen welcher Netzwerkadapter benutzt werden soll"));
    QCOMPARE(dialog.label()->text(), QString::fromUtf8("Verfügbare Knoten an diesen Adaptern:"));
    QCOMPARE(dialog.okButton()->text(), QStringLiteral("OK"));
    QCOMPARE(dialog.cancelButton()->text(), QStringLiteral("Abbruch"));
    QCOMPARE(dialog.list()->count(), 3);
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(dialog.list()->item(i)->text(), QString::fromStdString(entries_[i]));
    }
    QCOMPARE(dialog.chosenIndex(), -1);
  }

  void okWithoutSelectionBeepsAndStaysOpen() {
    CDlg_ChooseNIC dialog;
    int beeps = 0;
    dialog.beep = [&] { ++beeps; };
    dialog.SetEntries(entries_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    QTest::keyClick(&dialog, Qt::Key_Return);  // Enter presses OK too
    QCOMPARE(beeps, 2);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(dialog.chosenIndex(), -1);

    dialog.list()->item(1)->setSelected(true);
    QVERIFY(dialog.okButton()->isEnabled());
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.chosenIndex(), 1);
    QCOMPARE(beeps, 2);
  }

  void doubleClickChoosesAndCloses() {
    CDlg_ChooseNIC dialog;
    dialog.SetEntries(entries_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QRect rect = dialog.list()->visualItemRect(dialog.list()->item(2));
    // A double-click is a press and release followed by the double-click press.
    QTest::mouseClick(dialog.list()->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(dialog.list()->viewport(), Qt::LeftButton, {}, rect.center());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.chosenIndex(), 2);
  }

  void modalChooserAnswersIndexOrMinusOne() {
    WhenModal([](CDlg_ChooseNIC* d) { QTest::mouseClick(d->cancelButton(), Qt::LeftButton); });
    QCOMPARE(ChooseAdapterWithDialog(entries_, nullptr), -1);

    // A selection followed by Cancel is still no choice.
    WhenModal([](CDlg_ChooseNIC* d) {
      d->list()->item(0)->setSelected(true);
      QTest::mouseClick(d->cancelButton(), Qt::LeftButton);
    });
    QCOMPARE(ChooseAdapterWithDialog(entries_, nullptr), -1);

    WhenModal([](CDlg_ChooseNIC* d) {
      d->list()->item(1)->setSelected(true);
      QTest::keyClick(d, Qt::Key_Return);
    });
    QCOMPARE(ChooseAdapterWithDialog(entries_, nullptr), 1);
  }
};

const test::GuiTest kChooseNicTestRegistered("choose_nic_test",
                                             test::RunQtTestObject<QApplication, ChooseNicTest>);
#include "choose_nic_test.moc"
