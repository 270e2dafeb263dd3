#include "params/ui/cmreg_dlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>

#include "comm/event_log.h"
#include "params/ui/module_picture.h"
#include "ui/ctab_dlg.h"
#include "ui/language_setup.h"
#include "ui/qt_prompt.h"

namespace params {
namespace {

// Row order of the two side panels: settings first, read-only values, then indicators.
const std::vector<int> kDriveRows = {item::kDriveType,         item::kBrake,
                                     item::kClosedLoop,        item::kSpeed,
                                     item::kRealSpeed,         item::kDirection,
                                     item::kAcceleration,      item::kDeceleration,
                                     item::kCurrentLimit,      item::kCurrent,
                                     item::kOperatingTime,     item::kDriveTemperature,
                                     item::kModuleTemperature, item::kDriveErrorCounter,
                                     item::kDriveRun};
const std::vector<int> kZoneRows = {item::kZpaMode,          item::kGapTimer,   item::kTZoneAccept,
                                    item::kNotFullStop,      item::kInduct,     item::kLowCurrent,
                                    item::kHighCurrent,      item::kAccumulate, item::kZoneRun,
                                    item::kJamClear,         item::kBoxCounter, item::kJamCounter,
                                    item::kSensorDirtCounter};

// Button texts treat "&" as a mnemonic marker; the labels show it as it is.
QString ButtonText(const QString& text) {
  return QString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
QString Q(const char* text) {
  return QString::fromUtf8(text ? text : "");
}
// A text of the display item table in the language shown.
QString ItemText(const char* text) {
  return text ? ui::CoreText("DisplayItems", text) : QString();
}

QString ObjectName(const char* prefix, int id, Side side) {
  return QStringLiteral("%1%2_%3")
      .arg(QLatin1String(prefix))
      .arg(id)
      .arg(side == Side::A ? 'A' : 'B');
}

// The items a side panel shows as lamps, in table order.
bool IsLamp(const DisplayItem& item) {
  return item.control == ControlKind::Indicator;
}

}  // namespace

// ---- IndicatorLamp ----------------------------------------------------------------------

IndicatorLamp::IndicatorLamp(QWidget* parent) : QWidget(parent) {
  setFixedSize(16, 16);
}

void IndicatorLamp::SetState(bool lit, IndicatorColour colour) {
  if (known_ && lit == lit_ && colour == colour_) return;
  known_ = true;
  lit_ = lit;
  colour_ = colour;
  ++repaints_;
  update();
}

void IndicatorLamp::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QColor fill(190, 190, 190);
  if (lit_) {
    switch (colour_) {
      case IndicatorColour::Green:
        fill = QColor(46, 170, 70);
        break;
      case IndicatorColour::Yellow:
        fill = QColor(235, 185, 0);
        break;
      case IndicatorColour::Red:
        fill = QColor(215, 40, 40);
        break;
    }
  }
  p.setPen(QPen(fill.darker(140), 1));
  p.setBrush(fill);
  p.drawEllipse(QRectF(2, 2, 12, 12));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 90));
  p.drawEllipse(QRectF(4.5, 4, 5, 4));
}

// ---- construction -----------------------------------------------------------------------

CMRegDlg::CMRegDlg(std::unique_ptr<NodeLink> link, base::Prompt& prompt,
                   platform::ProfileStore& profile, const std::string& startAddress,
                   QWidget* parent, ScreenRangeHooks rangeHooks)
    : QDialog(parent),
      prompt_(prompt),
      ranges_(std::make_unique<ScreenRangeOperations>(std::move(rangeHooks))) {
  setObjectName(QStringLiteral("CMRegDlg"));
  controller_ = std::make_unique<NodeScreenController>(std::move(link), prompt, profile);
  BuildWindow();
  // Everything the user sees comes from the controller's view, painted on this thread. The
  // network address is there before the first command can be given.
  controller_->ReadDefaultNet();
  Paint(controller_->View());
  worker_ = std::make_unique<NodeScreenWorker>(
      *controller_, [this](const NodeScreenView& view) { ReceiveView(view); });
  worker_->Post([startAddress](NodeScreenController& screen) { screen.Start(startAddress); });

  // Centre on the desktop, no larger than it.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desk = screen->availableGeometry();
    QSize size = sizeHint().boundedTo(desk.size());
    resize(size);
    move(desk.center() - QPoint(size.width() / 2, size.height() / 2));
  }
}

CMRegDlg::~CMRegDlg() {
  ShutDown();
}

void CMRegDlg::ShutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (busyCursor_) QApplication::restoreOverrideCursor();
  busyCursor_ = false;
  // A range under way ends after its current node rather than running to its last one; it is
  // cancelled before its question is let go, so that nothing it asked goes ahead.
  if (ranges_) ranges_->CancelRunning();
  // A worker waiting for a message box must not wait for this thread, which joins it now; the
  // box answers No / Cancel.
  if (auto* qtPrompt = dynamic_cast<ui::QtPrompt*>(&prompt_)) qtPrompt->ReleaseWaiters();
  if (worker_) worker_->Stop();  // the controller closes the connection when it goes
}

void CMRegDlg::BuildWindow() {
  setWindowTitle(Q(controller_->View().title));
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(10, 8, 10, 8);
  root->setSpacing(8);

  // Network and node range.
  auto* top = new QHBoxLayout;
  const auto addField = [&](const QString& label, QLineEdit*& edit, const char* name, int width) {
    auto* text = new QLabel(label, this);
    edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(name));
    edit->setFixedWidth(width);
    text->setBuddy(edit);
    top->addWidget(text);
    top->addWidget(edit);
    top->addSpacing(10);
  };
  addField(ItemText(DisplayItemById(45).label), network_, "network", 120);
  addField(tr("Von Knoten #"), from_, "from", 48);
  addField(ItemText(DisplayItemById(47).label), to_, "to", 48);
  refresh_ = new QPushButton(ItemText(DisplayItemById(52).label), this);
  refresh_->setObjectName(QStringLiteral("refresh"));
  auto* minus = new QPushButton(ItemText(DisplayItemById(55).label), this);
  minus->setObjectName(QStringLiteral("previous"));
  auto* plus = new QPushButton(ItemText(DisplayItemById(54).label), this);
  plus->setObjectName(QStringLiteral("next"));
  for (QPushButton* small : {minus, plus}) small->setFixedWidth(32);
  for (QPushButton* button : {refresh_, minus, plus}) {
    button->setAutoDefault(false);
    top->addWidget(button);
    lockedWhileBusy_.push_back(button);
  }
  connect(refresh_, &QPushButton::clicked, this, &CMRegDlg::Refresh);
  connect(minus, &QPushButton::clicked, this, &CMRegDlg::PreviousNode);
  connect(plus, &QPushButton::clicked, this, &CMRegDlg::NextNode);
  top->addStretch(1);
  connection_ = new QLabel(this);
  connection_->setObjectName(QStringLiteral("connection"));
  connection_->setTextFormat(Qt::PlainText);
  top->addWidget(connection_);
  root->addLayout(top);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  root->addWidget(line);

  // Module identity and picture, then the drives and the zones side by side.
  auto* middle = new QHBoxLayout;
  middle->setSpacing(10);
  middle->addWidget(BuildModulePanel(), 0);
  drives_ = BuildSidePanel(ItemGroup::Drive, kDriveRows);
  zones_ = BuildSidePanel(ItemGroup::Zone, kZoneRows);
  middle->addWidget(drives_, 1);
  middle->addWidget(zones_, 1);
  otherView_ = new QLabel(this);
  otherView_->setObjectName(QStringLiteral("otherView"));
  otherView_->setAlignment(Qt::AlignCenter);
  otherView_->setStyleSheet(QStringLiteral("color: #606060; font-size: 13pt;"));
  otherView_->hide();
  middle->addWidget(otherView_, 2);
  root->addLayout(middle, 1);

  // Commands of the whole module.
  auto* bottom = new QHBoxLayout;
  const auto addButton = [&](const QString& text, const char* name) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    bottom->addWidget(button);
    return button;
  };
  setAllModule_ = addButton(ItemText(DisplayItemById(item::kSetAll).label), "setAllModule");
  connect(setAllModule_, &QPushButton::clicked, this, &CMRegDlg::SetAllModule);
  // Zone logic of the module, or of every module of the range.
  zpaDta_ = new QComboBox(this);
  zpaDta_->setObjectName(QStringLiteral("zpaDta"));
  for (const char* entry : kZpaDtaEntries) zpaDta_->addItem(Q(entry));
  zpaDta_->setPlaceholderText(tr("ZPA / DTA"));
  zpaDta_->setCurrentIndex(-1);
  connect(zpaDta_, &QComboBox::activated, this, &CMRegDlg::ZpaDtaSelected);
  bottom->addWidget(zpaDta_);
  lockedWhileBusy_.push_back(setAllModule_);
  lockedWhileBusy_.push_back(zpaDta_);
  QPushButton* advanced = addButton(tr("Advanced\nDialog"), "advanced");
  advanced->setToolTip(ItemText(DisplayItemById(67).label));
  connect(advanced, &QPushButton::clicked, this, &CMRegDlg::OpenAdvanced);
  diagnosticLog_ = addButton(tr("Diagnostic Log"), "diagnosticLog");
  connect(diagnosticLog_, &QPushButton::clicked, this, [this] { Open(screens_.diagnosticLog); });
  driveController_ = addButton(tr("Drive Controller"), "driveController");
  connect(driveController_, &QPushButton::clicked, this,
          [this] { Open(screens_.driveController); });
  plcData_ = addButton(tr("PLC Daten"), "plcData");
  connect(plcData_, &QPushButton::clicked, this, [this] {
    if (plcDataScreen_ && !shown_.moduleAddress.empty()) plcDataScreen_(shown_.moduleAddress);
  });
  plcData_->hide();
  QPushButton* merger = addButton(tr("Merger"), "merger");
  connect(merger, &QPushButton::clicked, this, [this] { Open(screens_.merger); });
  addButton(tr("E-Stop..."), "estop");  // no action
  bottom->addStretch(1);
  QPushButton* close = addButton(ItemText(DisplayItemById(53).label), "close");
  connect(close, &QPushButton::clicked, this, &CMRegDlg::reject);
  root->addLayout(bottom);

  // Status: the PLC status text (or "Node: %d" of a range operation) and the last read error.
  auto* statusRow = new QHBoxLayout;
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);
  status_->setMinimumHeight(34);
  status_->setFrameShape(QFrame::StyledPanel);
  error_ = new QLabel(this);
  error_->setObjectName(QStringLiteral("error"));
  error_->setTextFormat(Qt::PlainText);
  error_->setStyleSheet(QStringLiteral("color: #c02020; font-weight: bold;"));
  // Nodes whose debug output this run has switched to this PC.
  debugFlags_ = new QLabel(this);
  debugFlags_->setObjectName(QStringLiteral("debugFlags"));
  debugFlags_->setTextFormat(Qt::PlainText);
  debugFlags_->hide();
  // The wait indication of a range operation: it ends after the node under way.
  cancelRange_ = new QPushButton(tr("Abbrechen"), this);
  cancelRange_->setObjectName(QStringLiteral("cancelRange"));
  cancelRange_->setAutoDefault(false);
  cancelRange_->hide();
  connect(cancelRange_, &QPushButton::clicked, this, &CMRegDlg::CancelRange);
  // The time a range operation still needs, once it can be estimated.
  timeLeft_ = new QLabel(this);
  timeLeft_->setObjectName(QStringLiteral("timeLeft"));
  timeLeft_->hide();
  statusRow->addWidget(status_, 1);
  statusRow->addWidget(debugFlags_, 0);
  statusRow->addWidget(timeLeft_, 0);
  statusRow->addWidget(cancelRange_, 0);
  statusRow->addWidget(error_, 0);
  root->addLayout(statusRow);
  lockedWhileBusy_.push_back(drives_);
  lockedWhileBusy_.push_back(zones_);

  // Keys. Left / Right change node unless a text field takes them for its cursor. As
  // shortcuts they come before the focus widget: a button or check box with the focus would
  // otherwise take them to move the focus (text fields claim them first, as their own).
  const auto shortcut = [this](const QKeySequence& keys, auto slot) {
    auto* sc = new QShortcut(keys, this);
    sc->setContext(Qt::WindowShortcut);
    connect(sc, &QShortcut::activated, this, slot);
  };
  shortcut(QKeySequence(Qt::Key_Left), [this] { ArrowKey(Qt::Key_Left); });
  shortcut(QKeySequence(Qt::Key_Right), [this] { ArrowKey(Qt::Key_Right); });
  shortcut(QKeySequence(Qt::Key_F2), [this] { OpenAdvanced(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U), [this] { OpenAdvanced(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { Open(screens_.statistics); });
  shortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_H), [this] { Open(screens_.driveHistory); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), [this] { Open(screens_.merger); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T), [this] { Open(screens_.topology); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), [] {});  // E-Stop: no action
  shortcut(QKeySequence(Qt::SHIFT | Qt::ALT | Qt::Key_F), [this] { FormatFlash(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_D), [this] { Debugging(); });
}

QWidget* CMRegDlg::BuildModulePanel() {
  auto* panel = new QGroupBox(tr("Modul"), this);
  panel->setObjectName(QStringLiteral("modulePanel"));
  auto* layout = new QVBoxLayout(panel);
  picture_ = new ModulePicture(panel);
  picture_->setObjectName(QStringLiteral("picture"));
  picture_->setMinimumSize(260, 150);
  connect(picture_, &ModulePicture::diagnosticScreenRequested, this,
          [this] { Open(screens_.diagnosticScreen); });
  layout->addWidget(picture_);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  int row = 0;
  for (int id : {item::kSerialNumber, item::kFirmware, item::kHardware}) {
    AddItemRow(grid, row++, DisplayItemById(id));
  }
  const auto counterRow = [&](const char* label, QLabel*& value, const char* name) {
    grid->addWidget(new QLabel(Q(label), panel), row, 0);
    value = new QLabel(panel);
    value->setObjectName(QLatin1String(name));
    value->setTextFormat(Qt::PlainText);
    grid->addWidget(value, row++, 1);
  };
  counterRow(kReconnectCounterLabel, reconnects_, "reconnects");
  counterRow(kResponseTimeoutLabel, timeouts_, "timeouts");
  for (int id : {item::kDriveMismatch, item::kModuleMismatch}) {
    AddItemRow(grid, row++, DisplayItemById(id));
  }
  layout->addLayout(grid);

  // Optical identification: the module blinks while the button is pressed.
  auto* blinkBox = new QGroupBox(tr("Optische Modullokalisierung"), panel);
  auto* blinkGrid = new QGridLayout(blinkBox);
  blinkGrid->setContentsMargins(6, 4, 6, 4);
  AddItemRow(blinkGrid, 0, DisplayItemById(item::kBlink));
  layout->addWidget(blinkBox);

  // Link ports of the module: lamps and the cable diagnosis.
  linkRow_ = new QWidget(panel);
  linkRow_->setObjectName(QStringLiteral("linkRow"));
  auto* link = new QHBoxLayout(linkRow_);
  link->setContentsMargins(0, 0, 0, 0);
  const QString portNames[2] = {tr("Linker Port"), tr("Rechter Port")};
  for (size_t s = 0; s < 2; ++s) {
    linkLamps_[s] = new IndicatorLamp(linkRow_);
    link->addWidget(linkLamps_[s]);
    link->addWidget(new QLabel(portNames[s], linkRow_));

    link->addSpacing(8);
  }
  link->addStretch(1);
  layout->addWidget(linkRow_);
  cable_ = new QLabel(panel);
  cable_->setObjectName(QStringLiteral("cable"));
  cable_->setTextFormat(Qt::PlainText);
  cable_->setWordWrap(true);
  layout->addWidget(cable_);
  layout->addStretch(1);
  panel->setMinimumWidth(290);
  panel->setMaximumWidth(340);
  return panel;
}

QGroupBox* CMRegDlg::BuildSidePanel(ItemGroup group, const std::vector<int>& order) {
  const bool drive = group == ItemGroup::Drive;
  auto* box = new QGroupBox(drive ? tr("Antriebe") : tr("Zonen"), this);
  box->setObjectName(drive ? QStringLiteral("drives") : QStringLiteral("zones"));
  auto* outer = new QVBoxLayout(box);
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(3);
  const DisplayItem& frame = DisplayItemById(drive ? 65 : 64);
  auto* headA =
      new QLabel(QStringLiteral("<b>%1</b>").arg(ItemText(frame.label).toHtmlEscaped()), box);
  auto* headB =
      new QLabel(QStringLiteral("<b>%1</b>").arg(ItemText(frame.labelB).toHtmlEscaped()), box);
  grid->addWidget(headA, 0, 1, 1, 3);
  grid->addWidget(headB, 0, 4, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(4, 1);

  std::vector<int> rows = order;
  std::vector<int> checks;
  std::vector<int> lamps;
  for (const DisplayItem& item : kDisplayItems) {
    if (item.group != group || item.control == ControlKind::Frame ||
        std::find(order.begin(), order.end(), item.id) != order.end())
      continue;
    if (IsLamp(item)) {
      lamps.push_back(item.id);
    } else if (item.control == ControlKind::CheckBox && group == ItemGroup::Zone) {
      checks.push_back(item.id);
    } else {
      rows.push_back(item.id);
    }
  }
  int row = 1;
  for (int id : rows) AddItemRow(grid, row++, DisplayItemById(id));
  // Zone options: one check box per zone, the option named once.
  for (int id : checks) AddItemRow(grid, row++, DisplayItemById(id));
  outer->addLayout(grid);

  // Error lamps in two columns per side, compact.
  auto* lampBox = new QGroupBox(drive ? tr("Fehler") : tr("Fehler"), box);
  auto* lampGrid = new QGridLayout(lampBox);
  lampGrid->setHorizontalSpacing(6);
  lampGrid->setVerticalSpacing(2);
  int lampRow = 0;
  for (int id : lamps) {
    const DisplayItem& item = DisplayItemById(id);
    auto& controls = items_[static_cast<size_t>(id)];
    controls.label = new QLabel(ItemText(item.label), lampBox);
    controls.label->setObjectName(QStringLiteral("label%1").arg(id));
    for (Side side : {Side::A, Side::B}) {
      auto* lamp = new IndicatorLamp(lampBox);
      lamp->setObjectName(ObjectName("item", id, side));
      if (const char* help = item.HelpFor(HelpCase::Ordinary)) lamp->setToolTip(ItemText(help));
      controls.side[static_cast<size_t>(side)].control = lamp;
      lampGrid->addWidget(lamp, lampRow, side == Side::A ? 0 : 1, Qt::AlignCenter);
    }
    lampGrid->addWidget(controls.label, lampRow, 2);
    ++lampRow;
  }
  lampGrid->setColumnStretch(2, 1);
  outer->addWidget(lampBox);
  outer->addStretch(1);
  return box;
}

void CMRegDlg::AddItemRow(QGridLayout* grid, int row, const DisplayItem& item) {
  auto& controls = items_[static_cast<size_t>(item.id)];
  QWidget* parent = grid->parentWidget() ? grid->parentWidget() : this;
  const bool buttonOnly = item.control == ControlKind::Button ||
                          (item.control == ControlKind::CheckBox && item.group == ItemGroup::Zone);
  if (!buttonOnly || item.group == ItemGroup::Module) {
    controls.label = new QLabel(ItemText(item.label), parent);
    controls.label->setObjectName(QStringLiteral("label%1").arg(item.id));
  } else if (item.control == ControlKind::CheckBox) {
    controls.label = new QLabel(ItemText(item.label), parent);
    controls.label->setObjectName(QStringLiteral("label%1").arg(item.id));
    controls.label->setWordWrap(true);
  }
  if (item.group == ItemGroup::Module) {
    if (item.control == ControlKind::Button) {
      delete controls.label;
      controls.label = nullptr;
    }
    if (controls.label) grid->addWidget(controls.label, row, 0);
    QWidget* control = MakeControl(item, Side::A);
    grid->addWidget(control, row, controls.label ? 1 : 0, 1, controls.label ? 1 : 2);
    ConnectControl(item, Side::A);
    return;
  }
  if (controls.label) grid->addWidget(controls.label, row, 0);
  for (Side side : {Side::A, Side::B}) {
    const int column = side == Side::A ? 1 : 4;
    QWidget* control = MakeControl(item, side);
    grid->addWidget(control, row, column);
    auto& sc = controls.side[static_cast<size_t>(side)];
    if (item.control == ControlKind::Edit) {
      sc.set = new QPushButton(tr("Set"), parent);
      sc.set->setObjectName(ObjectName("set", item.id, side));
      sc.set->setAutoDefault(false);
      sc.set->setFixedWidth(40);
      grid->addWidget(sc.set, row, column + 1);
    }
    if (item.HasSetAll()) {
      sc.setAll = new QPushButton(tr("SetAll"), parent);
      sc.setAll->setObjectName(ObjectName("setall", item.id, side));
      sc.setAll->setAutoDefault(false);
      sc.setAll->setFixedWidth(50);
      grid->addWidget(sc.setAll, row, column + 2);
    }
    ConnectControl(item, side);
  }
}

QWidget* CMRegDlg::MakeControl(const DisplayItem& item, Side side) {
  QWidget* parent = this;
  QWidget* control = nullptr;
  switch (item.control) {
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(parent);
      edit->setMinimumWidth(64);
      edit->setMaximumWidth(96);
      control = edit;
      break;
    }
    case ControlKind::List: {
      auto* combo = new QComboBox(parent);
      combo->setMinimumWidth(item.id == item::kDriveType ? 150 : 104);
      combo->setMaximumWidth(item.id == item::kDriveType ? 190 : 130);
      combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
      control = combo;
      break;
    }
    case ControlKind::CheckBox: {
      auto* box = new QCheckBox(item.group == ItemGroup::Module ? QString() : QString(), parent);
      control = box;
      break;
    }
    case ControlKind::Button: {
      auto* button = new QPushButton(ButtonText(ItemText(item.LabelFor(side, 0))), parent);
      button->setCheckable(item.id != item::kJamClear);
      button->setAutoDefault(false);
      control = button;
      break;
    }
    case ControlKind::Indicator: {
      control = new IndicatorLamp(parent);
      break;
    }
    default: {
      auto* value = new QLabel(parent);
      value->setTextFormat(Qt::PlainText);
      value->setMinimumWidth(64);
      value->setMaximumWidth(item.group == ItemGroup::Module ? 200 : 110);
      value->setFrameShape(QFrame::StyledPanel);
      value->setTextInteractionFlags(Qt::TextSelectableByMouse);
      control = value;
      break;
    }
  }
  control->setObjectName(ObjectName("item", item.id, side));
  if (const char* help = item.HelpFor(HelpCase::Ordinary)) control->setToolTip(ItemText(help));
  items_[static_cast<size_t>(item.id)].side[static_cast<size_t>(side)].control = control;
  return control;
}

void CMRegDlg::ConnectControl(const DisplayItem& item, Side side) {
  auto& sc = items_[static_cast<size_t>(item.id)].side[static_cast<size_t>(side)];
  const int id = item.id;
  if (sc.set)
    connect(sc.set, &QPushButton::clicked, this, [this, id, side] { ApplyField(id, side); });
  if (sc.setAll) {
    connect(sc.setAll, &QPushButton::clicked, this, [this, id, side] { SetAllField(id, side); });
  }
  if (auto* combo = qobject_cast<QComboBox*>(sc.control)) {
    // Only the user's choices apply; the view's updates do not emit `activated`.
    connect(combo, &QComboBox::activated, this, [this, id, side](int entry) {
      Post([id, side, entry](NodeScreenController& screen) { screen.ApplyList(id, side, entry); });
    });
  } else if (auto* box = qobject_cast<QCheckBox*>(sc.control)) {
    connect(box, &QCheckBox::clicked, this, [this, id, side](bool ticked) {
      Post([id, side, ticked](NodeScreenController& screen) {
        screen.ApplyCheck(id, side, ticked);
      });
    });
  } else if (auto* button = qobject_cast<QPushButton*>(sc.control)) {
    connect(button, &QPushButton::clicked, this, [this, id, side, button] {
      // The pressed state shows what the module reports, not the click.
      button->setChecked(!button->isChecked());
      Post([id, side](NodeScreenController& screen) { screen.Toggle(id, side); });
    });
  }
}

// ---- commands -----------------------------------------------------------------------------

std::string CMRegDlg::NetworkText() const {
  return network_->text().trimmed().toStdString();
}
std::string CMRegDlg::FromText() const {
  return from_->text().trimmed().toStdString();
}
std::string CMRegDlg::ToText() const {
  return to_->text().trimmed().toStdString();
}

std::string CMRegDlg::FieldText(int itemId, Side side) const {
  if (itemId < 0 || itemId >= kDisplayItemCount) return std::string();
  QWidget* control = items_[static_cast<size_t>(itemId)].side[static_cast<size_t>(side)].control;
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text().trimmed().toStdString();
  if (auto* combo = qobject_cast<QComboBox*>(control)) {
    // The entry's own text, not its translation.
    const QVariant entry = combo->currentData();
    return (entry.isValid() ? entry.toString() : combo->currentText()).toStdString();
  }
  if (auto* label = qobject_cast<QLabel*>(control)) return label->text().toStdString();
  return std::string();
}

int CMRegDlg::ListEntry(int itemId, Side side) const {
  if (itemId < 0 || itemId >= kDisplayItemCount) return -1;
  auto* combo = qobject_cast<QComboBox*>(
      items_[static_cast<size_t>(itemId)].side[static_cast<size_t>(side)].control);
  return combo ? combo->currentIndex() : -1;
}

bool CMRegDlg::Ticked(int itemId, Side side) const {
  if (itemId < 0 || itemId >= kDisplayItemCount) return false;
  auto* box = qobject_cast<QCheckBox*>(
      items_[static_cast<size_t>(itemId)].side[static_cast<size_t>(side)].control);
  return box && box->isChecked();
}

void CMRegDlg::Post(std::function<void(NodeScreenController&)> command, bool showWait) {
  // While a range operation runs the screen takes no commands: keys and clicks would otherwise
  // queue node changes, edits and questions that run after it.
  if (shutDown_ || worker_->LongWorkPending()) return;
  const std::string network = NetworkText();
  const std::string from = FromText();
  const std::string to = ToText();
  worker_->Post(
      [network, from, to, command = std::move(command)](NodeScreenController& screen) {
        screen.SetNetworkText(network);
        screen.SetFromText(from);
        screen.SetToText(to);
        command(screen);
      },
      showWait);
}

void CMRegDlg::Refresh() {
  refresh_->setFocus();
  Post([](NodeScreenController& screen) { screen.ChangeNode(0); });
}

void CMRegDlg::NextNode() {
  Post([](NodeScreenController& screen) { screen.ChangeNode(1); });
}

void CMRegDlg::PreviousNode() {
  Post([](NodeScreenController& screen) { screen.ChangeNode(-1); });
}

void CMRegDlg::ApplyField(int itemId, Side side) {
  const auto text = [&](int id) {
    auto* edit = qobject_cast<QLineEdit*>(
        items_[static_cast<size_t>(id)].side[static_cast<size_t>(side)].control);
    if (!edit) return std::string();
    edit->setModified(false);
    return edit->text().trimmed().toStdString();
  };
  std::string typed = text(itemId);
  std::string second;
  if (itemId == item::kLowCurrent || itemId == item::kHighCurrent) {
    typed = text(item::kLowCurrent);
    second = text(item::kHighCurrent);
  }
  Post([itemId, side, typed, second](NodeScreenController& screen) {
    screen.ApplyEdit(itemId, side, typed, second);
  });
}

// ---- range operations --------------------------------------------------------------------

ScreenFieldReader CMRegDlg::FieldReader() const {
  ScreenFieldReader fields;
  fields.text = [this](int id, Side side) { return FieldText(id, side); };
  fields.entry = [this](int id, Side side) { return ListEntry(id, side); };
  fields.ticked = [this](int id, Side side) { return Ticked(id, side); };
  return fields;
}

NodeRange CMRegDlg::Range() const {
  return NodeRange{FromText(), ToText()};
}

void CMRegDlg::SetAllField(int itemId, Side side) {
  // The fields are read here, on the GUI thread; the job only carries the values.
  FieldSetAll field = ReadFieldForSetAll(itemId, side, FieldReader());
  Post(ranges_->SetAllFieldJob(Range(), std::move(field)), true);
}

void CMRegDlg::SetAllModule() {
  Post(ranges_->SetAllModuleJob(Range(), ReadTypedForSetAll(FieldReader())), true);
}

bool CMRegDlg::KeyOperationsAllowed() const {
  return !shutDown_ && isActiveWindow() && !advanced_ && !worker_->LongWorkPending();
}

void CMRegDlg::FormatFlash() {
  if (!KeyOperationsAllowed()) return;
  Post(ranges_->FormatFlashJob(Range()), true);
}

void CMRegDlg::Debugging() {
  if (!KeyOperationsAllowed()) return;
  Post(ranges_->DebuggingJob(Range()), true);
}

void CMRegDlg::ZpaDtaSelected(int entry) {
  if (!shown_.connected) {
    zpaDta_->setCurrentIndex(-1);  // nothing to convert while no module is shown
    return;
  }
  Post(ranges_->ZpaDtaJob(Range(), entry), true);
}

void CMRegDlg::CancelRange() {
  ranges_->CancelRunning();
}

void CMRegDlg::OpenAdvanced() {
  if (advanced_) {
    advanced_->raise();
    return;
  }
  ui::AdvancedPageContext context;
  context.networkAddress = NetworkText();
  context.fromNode = from_->text().toInt();
  context.toNode = to_->text().toInt();
  context.worker = &worker_->Serial();
  context.prompt = &prompt_;
  auto* dialog = new ui::CTabDlg(context, advancedPages_, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  advanced_ = dialog;
  // The diagnostic windows open from the advanced window too, for the node screen's module.
  const auto open = [this, dialog](const QKeySequence& keys,
                                   std::function<void()> Screens::*which) {
    auto* sc = new QShortcut(keys, dialog);
    sc->setContext(Qt::WindowShortcut);
    connect(sc, &QShortcut::activated, this, [this, which] { Open(screens_.*which); });
  };
  open(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G), &Screens::diagnosticScreen);
  open(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &Screens::statistics);
  open(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_H), &Screens::driveHistory);
  if (screens_.report) {
    dialog->AddAction(tr("Übergabebericht..."), QStringLiteral("report"),
                      [this] { Open(screens_.report); });
  }
  if (screens_.lineWatch) {
    dialog->AddAction(tr("Linienwache..."), QStringLiteral("lineWatch"),
                      [this] { Open(screens_.lineWatch); });
  }
  WriteTrace("Do Modal");
  dialog->open();
}

void CMRegDlg::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    QWidget* focus = QApplication::focusWidget();
    if (focus == from_ || focus == network_ || focus == to_) {
      Refresh();
      return;
    }
    for (const DisplayItem& item : kDisplayItems) {
      for (Side side : {Side::A, Side::B}) {
        const auto& sc = items_[static_cast<size_t>(item.id)].side[static_cast<size_t>(side)];
        if (sc.control && sc.control == focus && sc.set) {
          ApplyField(item.id, side);
          return;
        }
      }
    }
    return;  // Enter never closes the window
  }
  if (key == Qt::Key_Escape) return;  // only Schließen closes the window
  QDialog::keyPressEvent(event);
}

void CMRegDlg::ArrowKey(int key) {
  if (qobject_cast<QLineEdit*>(QApplication::focusWidget())) return;
  const int node = shown_.node;
  if (key == Qt::Key_Left && node > kFirstNode) PreviousNode();
  if (key == Qt::Key_Right && node < kLastNode) NextNode();
}

void CMRegDlg::closeEvent(QCloseEvent* event) {
  ShutDown();
  QDialog::closeEvent(event);
}

void CMRegDlg::reject() {
  ShutDown();
  QDialog::reject();
}

// ---- views from the worker --------------------------------------------------------------

void CMRegDlg::ReceiveView(const NodeScreenView& view) {
  bool queue = false;
  {
    std::lock_guard<std::mutex> lock(latestMutex_);
    latest_ = std::make_unique<NodeScreenView>(view);
    queue = !paintQueued_;
    paintQueued_ = true;
  }
  if (queue)
    QMetaObject::invokeMethod(
        this, [this] { ShowLatestView(); }, Qt::QueuedConnection);
}

void CMRegDlg::ShowLatestView() {
  std::unique_ptr<NodeScreenView> view;
  {
    std::lock_guard<std::mutex> lock(latestMutex_);
    view = std::move(latest_);
    paintQueued_ = false;
  }
  if (view && !shutDown_) {
    QElapsedTimer timer;
    timer.start();
    Paint(*view);
    const int64_t ns = timer.nsecsElapsed();
    ++paintStats_.paints;
    paintStats_.totalNs += ns;
    paintStats_.longestNs = std::max(paintStats_.longestNs, ns);
  }
}

namespace {

bool SameItemView(const ItemView& a, const ItemView& b) {
  return a.text == b.text && a.listIndex == b.listIndex && a.checked == b.checked &&
         a.masked == b.masked && a.colour == b.colour && a.enabled == b.enabled;
}

bool SameItemScreen(const ItemScreen& a, const ItemScreen& b) {
  for (size_t s = 0; s < 2; ++s) {
    if (a.label[s] != b.label[s] || a.shown[s] != b.shown[s] || !SameItemView(a.view[s], b.view[s]))
      return false;
  }
  return true;
}

bool SameLists(const NodeScreenView& a, const NodeScreenView& b) {
  for (size_t s = 0; s < 2; ++s) {
    if (a.directionEntries[s] != b.directionEntries[s]) return false;
    if (a.driveEntries[s].size() != b.driveEntries[s].size()) return false;
    for (size_t i = 0; i < a.driveEntries[s].size(); ++i) {
      if (a.driveEntries[s][i].catalogueIndex != b.driveEntries[s][i].catalogueIndex) return false;
    }
  }
  return true;
}

}  // namespace

void CMRegDlg::Paint(const NodeScreenView& view) {
  // Items whose view did not change are left alone, so that a steady module costs the GUI
  // thread almost nothing; edit fields are always refreshed (a value typed but not applied
  // goes back to the module's value).
  const bool everything = !painted_ || view.connected != shown_.connected ||
                          view.busy != shown_.busy || view.layout.code != shown_.layout.code ||
                          !SameLists(view, shown_);
  std::array<bool, kDisplayItemCount> changed{};
  for (const DisplayItem& item : kDisplayItems) {
    const size_t i = static_cast<size_t>(item.id);
    changed[i] = everything || item.control == ControlKind::Edit ||
                 !SameItemScreen(view.items[i], shown_.items[i]);
  }
  painted_ = true;
  shown_ = view;
  if (windowTitle() != Q(view.title)) setWindowTitle(Q(view.title));
  if (view.fieldsSerial != fieldsSerialShown_) {
    fieldsSerialShown_ = view.fieldsSerial;
    network_->setText(Q(view.networkText));
    from_->setText(Q(view.fromText));
  }
  if (view.busy != busyCursor_) {
    busyCursor_ = view.busy;
    if (busyCursor_) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  }
  const auto setText = [](QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
  };
  const QString connection =
      view.connected ? QStringLiteral("● %1").arg(Q(view.moduleAddress)) : tr("○ Nicht verbunden");
  if (connection_->text() != connection) {
    connection_->setText(connection);
    connection_->setStyleSheet(view.connected ? QStringLiteral("color: #1f8a3a; font-weight: bold;")
                                              : QStringLiteral("color: #909090;"));
  }
  setText(status_, Q(view.statusTextShown));
  setText(error_, Q(view.errorText));
  setText(reconnects_, Q(view.reconnectCounter));
  setText(timeouts_, Q(view.responseTimeouts));
  setText(cable_, Q(view.cableText));
  cable_->setVisible(!view.cableText.empty());
  linkRow_->setVisible(view.linkShown);
  for (IndicatorLamp* lamp : linkLamps_) lamp->SetState(view.linkShown, IndicatorColour::Green);
  diagnosticLog_->setVisible(view.diagnosticLogButton);
  plcData_->setVisible(view.plcMode);
  for (QWidget* widget : lockedWhileBusy_) widget->setEnabled(!view.busy);
  setAllModule_->setEnabled(view.connected && !view.busy);
  cancelRange_->setVisible(view.busy);
  timeLeft_->setVisible(view.busy && !view.timeLeftText.empty());
  setText(timeLeft_, tr("noch %1").arg(Q(view.timeLeftText)));
  {
    QStringList nodes;
    for (int node : ranges_->Flags().NodesOn()) nodes << QString::number(node);
    const QString debug = nodes.isEmpty()
                              ? QString()
                              : QStringLiteral("Debug: %1").arg(nodes.join(QStringLiteral(", ")));
    setText(debugFlags_, debug);
    debugFlags_->setVisible(!nodes.isEmpty());
  }
  driveController_->setVisible(view.driveControllerButton);

  const bool drivesShown = view.layout.drive[0] || view.layout.drive[1];
  const bool zonesShown = view.layout.zone[0] || view.layout.zone[1];
  drives_->setVisible(drivesShown);
  zones_->setVisible(zonesShown || drivesShown);
  switch (view.layout.view) {
    case ScreenView::IoModule:
      otherView_->setText(tr("I/O Modul"));
      break;
    case ScreenView::DriveController:
      otherView_->setText(tr("Drive Controller"));
      break;
    case ScreenView::Plc:
      otherView_->setText(tr("SPS"));
      break;
    case ScreenView::NoDrives:
    case ScreenView::Drives:
      otherView_->setText(QString());
      break;
  }
  otherView_->setVisible(view.connected && !drivesShown);
  if (otherView_->isVisible()) zones_->setVisible(false);

  for (const DisplayItem& item : kDisplayItems) {
    const size_t i = static_cast<size_t>(item.id);
    if (changed[i]) PaintItem(item, view.items[i], view);
  }
  picture_->SetState(view.picture);
  emit viewShown();
}

void CMRegDlg::PaintItem(const DisplayItem& item, const ItemScreen& screen,
                         const NodeScreenView& view) {
  auto& controls = items_[static_cast<size_t>(item.id)];
  bool anyShown = false;
  for (Side side : {Side::A, Side::B}) {
    const size_t s = static_cast<size_t>(side);
    auto& sc = controls.side[s];
    if (!sc.control) continue;
    const bool shown = screen.shown[s];
    anyShown = anyShown || shown;
    const ItemView& v = screen.view[s];
    sc.control->setVisible(shown);
    if (sc.set) sc.set->setVisible(shown);
    if (sc.setAll) {
      sc.setAll->setVisible(shown);
      sc.setAll->setEnabled(view.connected && !view.busy);
    }
    if (!shown) continue;
    sc.control->setEnabled(v.enabled && (view.connected || item.control == ControlKind::Value));
    if (sc.set) sc.set->setEnabled(view.connected && v.enabled);

    if (auto* edit = qobject_cast<QLineEdit*>(sc.control)) {
      // A value the user is typing is not overwritten by the cycle.
      if (!(edit->hasFocus() && edit->isModified())) {
        if (edit->text() != Q(v.text)) edit->setText(Q(v.text));
        edit->setModified(false);
      }
    } else if (auto* combo = qobject_cast<QComboBox*>(sc.control)) {
      // Each entry shown in the screen's language, with its own text as the item's data: what
      // the lists hand on is the entry's index or that text, never the translation.
      QStringList entries;
      QStringList shownEntries;
      if (item.id == item::kDriveType) {
        for (const auto& entry : view.driveEntries[s]) {
          entries << Q(entry.text);
          shownEntries << ui::CoreText("DriveCatalogue", entry.text);  // "Nicht bekannt"
        }
      } else if (item.id == item::kBrake) {
        for (const char* entry : kBrakeMethods) {
          entries << Q(entry);
          shownEntries << ItemText(entry);
        }
      } else if (item.id == item::kDirection) {
        for (const auto& entry : view.directionEntries[s]) entries << Q(entry);
        shownEntries = entries;
      } else if (item.id == item::kZpaMode) {
        for (const char* entry : kZpaModes) {
          entries << Q(entry);
          shownEntries << ItemText(entry);
        }
      }
      QStringList current;
      QStringList currentShown;
      for (int i = 0; i < combo->count(); ++i) {
        current << combo->itemData(i).toString();
        currentShown << combo->itemText(i);
      }
      if (current != entries || currentShown != shownEntries) {
        combo->clear();
        for (qsizetype i = 0; i < entries.size(); ++i) combo->addItem(shownEntries[i], entries[i]);
      }
      if (!combo->view()->isVisible() && combo->currentIndex() != v.listIndex) {
        combo->setCurrentIndex(v.listIndex);
      }
      // A value the list does not offer (a drive type outside this module's list) is still
      // named.
      const QString placeholder = v.listIndex < 0 ? Q(v.text) : QString();
      if (combo->placeholderText() != placeholder) combo->setPlaceholderText(placeholder);
    } else if (auto* box = qobject_cast<QCheckBox*>(sc.control)) {
      box->setChecked(v.checked);
      // Only closed loop and the zone options are written; the others only show.
      if (item.set != SetKind::Check) {
        box->setEnabled(false);
      }
    } else if (auto* button = qobject_cast<QPushButton*>(sc.control)) {
      const QString text =
          ButtonText(ItemText(screen.label[s].empty() ? item.label : screen.label[s].c_str()));
      if (button->text() != text) button->setText(text);
      if (button->isCheckable()) button->setChecked(v.checked);
    } else if (auto* lamp = qobject_cast<IndicatorLamp*>(sc.control)) {
      lamp->SetState(view.connected, v.colour);
    } else if (auto* label = qobject_cast<QLabel*>(sc.control)) {
      if (label->text() != Q(v.text)) label->setText(Q(v.text));
    }
  }
  if (controls.label) {
    controls.label->setVisible(anyShown);
    const std::string& text = screen.label[0];
    const QString shown = ItemText(text.c_str());
    if (!text.empty() && controls.label->text() != shown) controls.label->setText(shown);

  }
}

}  // namespace params
