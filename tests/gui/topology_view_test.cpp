// The topology view on hand-made drawings (no network): its tool tips for every line position
// and device kind, the revision shown, the error tip, the selection by rubber band across rows
// and a click that clears it, and the menu that only AutoConfig-capable modules get.
#include <QAction>
#include <QMenu>
#include <QMouseEvent>
#include <QtTest>
#include <memory>

#include "gui/runner/gui_tests.h"
#include "topology/topology_model.h"
#include "topology/ui/cpl_view.h"

namespace {

NodePtr ChainNode(uint32_t serial, uint8_t family, uint16_t revision, uint8_t position) {
  auto node = std::make_shared<CNode_Data>();
  node->serialNumber = serial;
  node->ipAddress = serial;
  node->ipText = "192.168.202." + std::to_string(serial % 100);
  node->maskText = "255.255.255.0";
  node->gatewayText = "192.168.202.1";
  node->revision = revision;
  node->recordCopy[17] = static_cast<uint8_t>(family << 4);
  node->record[16] = position;
  node->neighborsAnswered = 1;
  return node;
}

// Two chains of three on the PC's switch.
topology::DeviceArray TwoChains(std::vector<NodePtr>& nodes) {
  nodes = {ChainNode(21, 0x9, 0x040E, 1),    ChainNode(22, 0x0, (104 << 8) | 12, 0),
           ChainNode(23, 0x3, 0x0410, 2),    ChainNode(31, 0xC, 0x0402, 3),
           ChainNode(32, 0x9, 0x0414, 0xFF), ChainNode(33, 0x2, 0x0313, 0)};
  auto link = [&](size_t a, size_t b) {
    nodes[a]->buddies.push_back(nodes[b]);
    nodes[b]->buddies.push_back(nodes[a]);
  };
  nodes[0]->linkedToPcSwitch = 1;
  nodes[3]->linkedToPcSwitch = 1;
  link(0, 1);
  link(1, 2);
  link(3, 4);
  link(4, 5);
  topology::DeviceArray view = topology::LayOut(nodes);
  topology::SettleDevices(view, nullptr);
  return view;
}

}  // namespace

class TopologyViewTest : public QObject {
  Q_OBJECT

 private slots:
  void toolTipsNameThePlaceInTheLine() {
    std::vector<NodePtr> nodes;
    topology::ui::CPLView view;
    view.SetDrawing(TwoChains(nodes), "veth0 (192.168.202.10)");
    const auto tip = [&](uint32_t serial) {
      return view.ToolTipOf(view.Drawing().FindDeviceBySerial(serial)).toStdString();
    };
    struct Case {
      uint32_t serial;
      std::string text;
    };
    const Case cases[] = {
        {21,
         "(FIRST)  Ser.No: 21; Rev.No: 4.14; IP: 192.168.202.21; SubnetMask: 255.255.255.0; "
         "Gateway: 192.168.202.1"},
        // Not of the family that counts its major from 100: shown as reported.
        {22,
         "Ser.No: 22; Rev.No: 104.12; IP: 192.168.202.22; SubnetMask: 255.255.255.0; Gateway: "
         "192.168.202.1"},
        {23,
         "(LAST)  Ser.No: 23; Rev.No: 4.16; IP: 192.168.202.23; SubnetMask: 255.255.255.0; "
         "Gateway: 192.168.202.1"},
        {31,
         "(FIRST && LAST)  Ser.No: 31; Rev.No: 4.02; IP: 192.168.202.31; SubnetMask: "
         "255.255.255.0; Gateway: 192.168.202.1"},
        // 0xFF: the module does not know its place.
        {32,
         "Ser.No: 32; Rev.No: 4.20; IP: 192.168.202.32; SubnetMask: 255.255.255.0; Gateway: "
         "192.168.202.1"},
    };
    for (const Case& c : cases) QCOMPARE(tip(c.serial), c.text);
    QCOMPARE(view.ToolTipOf(0), QStringLiteral("veth0 (192.168.202.10)"));
    // The family that counts its major from 100.
    nodes[0]->revision = (104 << 8) | 14;
    view.SetDrawing(topology::LayOut(nodes), "veth0");
    QVERIFY(tip(21).find("Rev.No: 4.14;") != std::string::npos);
  }

  void errorHasItsOwnTip() {
    std::vector<NodePtr> nodes;
    topology::DeviceArray drawing = TwoChains(nodes);
    const int faulty = drawing.FindDeviceBySerial(22);
    drawing.devices[static_cast<size_t>(faulty)].error = 1;
    drawing.devices[static_cast<size_t>(faulty)].errorText = topology::kErrorNoConnection;
    topology::ui::CPLView view;
    view.SetDrawing(drawing, "veth0");
    QCOMPARE(view.ErrorTipOf(faulty), QString::fromUtf8(topology::kErrorNoConnection));
    QVERIFY(view.ErrorTipOf(drawing.FindDeviceBySerial(21)).isEmpty());
  }

  void bandAcrossRowsTakesTheEndsByPosition() {
    std::vector<NodePtr> nodes;
    topology::ui::CPLView view;
    view.SetDrawing(TwoChains(nodes), "veth0");
    view.resize(view.sizeHint());
    const auto at = [&](uint32_t serial) {
      return view.CentreOf(view.Drawing().FindDeviceBySerial(serial));
    };
    const auto send = [&](QEvent::Type type, const QPoint& p, Qt::MouseButton button,
                          Qt::MouseButtons held) {
      QMouseEvent event(type, p, view.mapToGlobal(p), button, held, Qt::NoModifier);
      QApplication::sendEvent(&view, &event);
    };
    // From the middle module of the second chain up to the same column of the first: the two
    // modules of that column, the upper one first.
    send(QEvent::MouseButtonPress, at(32), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, at(22), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, at(22), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(view.RangeCount(), 2);
    QCOMPARE(view.Drawing().devices[size_t(view.RangeFirst())].Serial(), 22u);
    QCOMPARE(view.Drawing().devices[size_t(view.RangeLast())].Serial(), 32u);
    // From the end of the second chain up to the start of the first: all six, by row then column.
    send(QEvent::MouseButtonPress, at(33), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, at(21), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, at(21), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(view.RangeCount(), 6);
    QCOMPARE(view.Drawing().devices[size_t(view.RangeFirst())].Serial(), 21u);
    QCOMPARE(view.Drawing().devices[size_t(view.RangeLast())].Serial(), 33u);
    // A click on the background clears the range.
    send(QEvent::MouseButtonPress, QPoint(view.width() - 2, view.height() - 2), Qt::LeftButton,
         Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPoint(view.width() - 2, view.height() - 2), Qt::LeftButton,
         Qt::NoButton);
    QCOMPARE(view.RangeCount(), 0);
    QCOMPARE(view.Selected(), -1);
  }

  void onlyCapableModulesHaveTheMenu() {
    std::vector<NodePtr> nodes;
    topology::ui::CPLView view;
    view.SetDrawing(TwoChains(nodes), "veth0");
    for (const auto& [serial, menu] : std::vector<std::pair<uint32_t, bool>>{
             {21, true}, {22, false}, {23, true}, {31, true}, {33, false}}) {
      std::unique_ptr<QMenu> shown(view.MenuFor(view.Drawing().FindDeviceBySerial(serial)));
      QCOMPARE(bool(shown), menu);
      if (!shown) continue;
      QStringList texts;
      for (QAction* action : shown->actions()) {
        if (!action->isSeparator()) texts << action->text();
      }
      QCOMPARE(texts, QStringList({QStringLiteral("AutoConfig von hier"),
                                   QStringLiteral("Dieses Modul ersetzen"),
                                   QString::fromUtf8("IP Adresse des Moduls ändern und AutoConfig"),
                                   QString::fromUtf8("Auf Werkseinstellungen zurücksetzen...")}));
    }
    QVERIFY(!view.MenuFor(0));  // the PC's switch
  }
};

const test::GuiTest kTopologyViewTestRegistered(
    "topology_view_test", test::RunQtTestObject<QApplication, TopologyViewTest>);
#include "topology_view_test.moc"
