// CDlg_AutoConfigTo: the module's settings when it opens (the gateway box by the module's own
// gateway), a broadcast address refused with a beep and the focus on its field, and a module
// that does not answer: the dialog ends with Cancel and its message, while the GUI thread stays
// free during the wait. No adapter is selected, so nothing leaves this machine.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "base/prompt.h"
#include "discovery/mreg_app.h"
#include "fixtures/temp_log.h"
#include "gui/runner/gui_tests.h"
#include "topology/ui/autoconfig_to_dlg.h"

class AutoConfigToDlgTest : public QObject {
  Q_OBJECT

 private:
  static NodePtr Module(const std::string& gateway) {
    auto node = std::make_shared<CNode_Data>();
    node->serialNumber = 3100106;
    node->ipText = "192.168.202.25";
    node->maskText = "255.255.255.0";
    node->gatewayText = gateway;
    return node;
  }

 private slots:
  void opensWithTheModulesSettings() {
    fixtures::ScopedTempLog log;
    base::ScriptedPrompt prompt;
    CMRegApp app(&prompt);
    CDlg_AutoConfigTo own(app, prompt, Module("192.168.202.1"));
    QCOMPARE(own.windowTitle(), QString::fromUtf8("IP Adresse des Moduls ändern und AutoConfig"));
    QCOMPARE(own.serialField()->text(), QStringLiteral("3100106"));
    QCOMPARE(own.ipField()->text(), QStringLiteral("192.168.202.25"));
    QCOMPARE(own.maskField()->text(), QStringLiteral("255.255.255.0"));
    QVERIFY(own.gatewayBox()->isChecked());
    QCOMPARE(own.gatewayField()->text(), QStringLiteral("192.168.202.1"));
    // A gateway that is the module's own address: the box stays unticked and the field empty.
    CDlg_AutoConfigTo none(app, prompt, Module("192.168.202.25"));
    QVERIFY(!none.gatewayBox()->isChecked());
    QCOMPARE(none.gatewayField()->text(), QString());
  }

  void broadcastAddressIsRefusedWithABeep() {
    fixtures::ScopedTempLog log;
    base::ScriptedPrompt prompt;
    CMRegApp app(&prompt);
    CDlg_AutoConfigTo dialog(app, prompt, Module("192.168.202.1"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.gatewayField()->setText(QStringLiteral("10.0.0.255"));
    dialog.maskField()->setFocus();
    QTest::mouseClick(dialog.actionButton(), Qt::LeftButton);
    QTRY_VERIFY(dialog.actionButton()->isEnabled());
    QCOMPARE(prompt.CountOf("beep"), size_t{1});
    QTRY_VERIFY(dialog.gatewayField()->hasFocus());
    QVERIFY(dialog.isVisible());
    QVERIFY(prompt.Texts().empty());
    QCOMPARE(dialog.sequence().Next(), 0x80000501u);  // nothing was sent
  }

  void noAnswerEndsWithCancelAndItsMessage() {
    fixtures::ScopedTempLog log;
    base::ScriptedPrompt prompt;
    CMRegApp app(&prompt);
    CDlg_AutoConfigTo dialog(app, prompt, Module("192.168.202.1"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.ipField()->setText(QStringLiteral("192.168.202.60"));
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::mouseClick(dialog.actionButton(), Qt::LeftButton);
    // While the module is awaited the window takes no Close.
    if (dialog.state() == 2) {
      QVERIFY(!dialog.actionButton()->isEnabled());
      dialog.reject();
      QVERIFY(dialog.isVisible());
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
    QCOMPARE(finished.at(0).at(0).toInt(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(prompt.Texts(), std::vector<std::string>{topology::kTextSetAddressNoAnswer});
    QCOMPARE(dialog.sequence().Next(), 0x80000502u);
  }
};

const test::GuiTest kAutoConfigToDlgTestRegistered(
    "autoconfig_to_dlg_test", test::RunQtTestObject<QApplication, AutoConfigToDlgTest>);
#include "autoconfig_to_dlg_test.moc"
