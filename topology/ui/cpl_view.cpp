#include "topology/ui/cpl_view.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>

#include "base/format.h"
#include "base/language.h"
#include "topology/node_command.h"

namespace topology::ui {

namespace {

const QColor kBackground(0xF6, 0xF8, 0xFA);
const QColor kGridColour(0xE3, 0xE7, 0xEC);
const QColor kLineColour(0x33, 0x4E, 0x68);
const QColor kTextColour(0x22, 0x2B, 0x33);
const QColor kErrorColour(0xC6, 0x28, 0x28);
const QColor kAdapterColour(0x00, 0x55, 0x00);  // the PC switch's text
const QColor kSelectionFill(0x1E, 0x88, 0xE5, 0x30);
const QColor kSelectionEdge(0x1E, 0x88, 0xE5);

int PictureHeight(int c) {
  return std::max(2 * c - 16, 8);
}

// Where a device's connection leaves or meets its picture, below the picture's top: at the
// ports, 2 pixels down for a module mounted right to left and 22 for one mounted left to right
// at the zoom whose pictures are 24 pixels high, in proportion at other zooms.
int PortOffset(uint32_t direction, int c) {
  const int h = PictureHeight(c);
  return direction == kRightToLeft ? (2 * h + 12) / 24 : (22 * h + 12) / 24;
}

QRect PictureRect(const CPLViewDevice& device, int c) {
  return QRect(device.column * c + c, device.row * c + c, 2 * c, PictureHeight(c));
}

QRect CellRectOf(const CPLViewDevice& device, int c) {
  const CellRect cell = CellOf(device, c);
  return QRect(QPoint(cell.left, cell.top), QPoint(cell.right - 1, cell.bottom - 1));
}

bool Capable(const CPLViewDevice& device) {
  return device.kind == kKindModule && device.node && IsAutoConfigCapable(*device.node);
}

int ShownMajor(const CNode_Data& node) {
  return IsAutoConfigCapable(node) ? RevisionMajor(node.revision) : node.revision >> 8;
}

// The module picture for a module mounted left to right: housing, label plate with the LED,
// the two ports at the bottom and the arrow of the conveying direction. A module mounted right
// to left is the same picture turned half round (ports on top, arrow to the left).
void DrawModulePicture(QPainter& p, const QRectF& r, bool error, bool reversed) {
  p.save();
  p.translate(r.center());
  if (reversed) p.rotate(180);
  const QRectF box(-r.width() / 2, -r.height() / 2, r.width(), r.height());
  const qreal radius = std::max<qreal>(2, r.height() / 8);

  // Shadow, housing.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 40));
  p.drawRoundedRect(box.translated(1.5, 1.5), radius, radius);
  QLinearGradient housing(box.topLeft(), box.bottomLeft());
  housing.setColorAt(0, QColor(0x6B, 0x78, 0x84));
  housing.setColorAt(1, QColor(0x3A, 0x43, 0x4C));
  p.setBrush(housing);
  p.setPen(QPen(QColor(0x26, 0x2C, 0x32), 1));
  p.drawRoundedRect(box, radius, radius);

  // Label plate across the upper half.
  const QRectF plate(box.left() + box.width() * 0.08, box.top() + box.height() * 0.12,
                     box.width() * 0.84, box.height() * 0.42);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xE9, 0xEE, 0xF2));
  p.drawRoundedRect(plate, radius / 2, radius / 2);

  // Conveying direction on the plate.
  const qreal ay = plate.center().y();
  const qreal ax0 = plate.left() + plate.width() * 0.35;
  const qreal ax1 = plate.right() - plate.width() * 0.08;
  const qreal head = std::max<qreal>(2, plate.height() * 0.35);
  p.setPen(QPen(QColor(0x1E, 0x5A, 0x96), std::max<qreal>(1, plate.height() * 0.16), Qt::SolidLine,
                Qt::RoundCap));
  p.drawLine(QPointF(ax0, ay), QPointF(ax1 - head * 0.6, ay));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1E, 0x5A, 0x96));
  QPolygonF arrow;
  arrow << QPointF(ax1, ay) << QPointF(ax1 - head, ay - head * 0.8)
        << QPointF(ax1 - head, ay + head * 0.8);
  p.drawPolygon(arrow);

  // Status LED on the plate's left end.
  const qreal led = std::max<qreal>(2.5, plate.height() * 0.3);
  const QPointF ledAt(plate.left() + plate.width() * 0.15, ay);
  const QColor lit = error ? QColor(0xE5, 0x39, 0x35) : QColor(0x2E, 0xC4, 0x5E);
  QColor glow = lit;
  glow.setAlpha(90);
  p.setBrush(glow);
  p.drawEllipse(ledAt, led * 1.5, led * 1.5);
  p.setBrush(lit);
  p.setPen(QPen(lit.darker(150), 0.8));
  p.drawEllipse(ledAt, led, led);

  // Ports: two RJ sockets along the bottom edge, left and right.
  const qreal pw = box.width() * 0.2;
  const qreal ph = box.height() * 0.16;
  p.setPen(QPen(QColor(0x14, 0x18, 0x1C), 0.8));
  p.setBrush(QColor(0x1B, 0x20, 0x25));
  for (const qreal x : {box.left() + box.width() * 0.06, box.right() - box.width() * 0.06 - pw}) {
    // Centred on the cable's height: 22/24 of the picture from its top.
    const QRectF port(x, box.top() + box.height() * 22 / 24 - ph / 2, pw, ph);
    p.drawRect(port);
    p.fillRect(QRectF(port.left() + pw * 0.3, port.top(), pw * 0.4, ph * 0.3),
               QColor(0xC8, 0xA4, 0x3C));
  }
  p.restore();
}

// The PC's switch: a flat rack box with a row of ports and their link LEDs.
void DrawSwitchPicture(QPainter& p, const QRectF& box) {
  p.save();
  const qreal radius = std::max<qreal>(2, box.height() / 8);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 40));
  p.drawRoundedRect(box.translated(1.5, 1.5), radius, radius);
  QLinearGradient body(box.topLeft(), box.bottomLeft());
  body.setColorAt(0, QColor(0x3F, 0x7C, 0xB8));
  body.setColorAt(1, QColor(0x1F, 0x4E, 0x7E));
  p.setBrush(body);
  p.setPen(QPen(QColor(0x15, 0x35, 0x55), 1));
  p.drawRoundedRect(box, radius, radius);
  const int ports = 4;
  const qreal gap = box.width() * 0.05;
  const qreal pw = (box.width() - gap * (ports + 1)) / ports;
  const qreal ph = box.height() * 0.38;
  for (int i = 0; i < ports; ++i) {
    const QRectF port(box.left() + gap + i * (pw + gap), box.bottom() - ph - box.height() * 0.12,
                      pw, ph);
    p.setPen(QPen(QColor(0x0C, 0x1A, 0x28), 0.8));
    p.setBrush(QColor(0x12, 0x1C, 0x26));
    p.drawRect(port);
    const qreal led = std::max<qreal>(1.2, box.height() * 0.06);
    p.setPen(Qt::NoPen);
    p.setBrush(i == 0 ? QColor(0x7C, 0xE5, 0x8A) : QColor(0xFF, 0xC1, 0x4D));
    p.drawEllipse(QPointF(port.center().x(), box.top() + box.height() * 0.22), led, led);
  }
  p.restore();
}

}  // namespace

CPLView::CPLView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("topologyView"));
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  UpdateSize();
}

QSize CPLView::sizeHint() const {
  // The last column's texts and a small margin.
  const int rows = std::max<int>(devices_.g_RecursiveMAXRowNum, devices_.devices[0].row);
  return QSize((devices_.maxColumn + kGridStep + 2) * cellSize_,
               (rows + kGridStep + 1) * cellSize_);
}

void CPLView::UpdateSize() {
  setMinimumSize(sizeHint());
  resize(sizeHint());
  update();
}

void CPLView::SetDrawing(const DeviceArray& devices, const std::string& adapterText) {
  const uint32_t first = rangeFirst_ > 0
                             ? devices_.devices[static_cast<size_t>(rangeFirst_)].Serial()
                             : SelectedSerial();
  const uint32_t last =
      rangeLast_ > 0 ? devices_.devices[static_cast<size_t>(rangeLast_)].Serial() : first;
  devices_ = devices;
  adapterText_ = adapterText;
  selected_ = rangeFirst_ = rangeLast_ = -1;
  rangeCount_ = 0;
  inBand_.assign(devices_.devices.size(), false);
  if (first != 0) SelectRange(first, last);
  UpdateSize();
  emit selectionChanged();
}

// The pictures are drawn once per zoom and kept: a line of 170 modules paints them as copies.
const QPixmap& CPLView::Picture(PictureKind kind) const {
  QPixmap& cached = pictures_[kind];
  if (!cached.isNull()) return cached;
  const qreal ratio = devicePixelRatioF();
  const QSize size(2 * cellSize_, PictureHeight(cellSize_));
  // Room for the shadow below and right of the picture.
  cached = QPixmap(QSize(size.width() + 3, size.height() + 3) * ratio);
  cached.setDevicePixelRatio(ratio);
  cached.fill(Qt::transparent);
  QPainter p(&cached);
  p.setRenderHint(QPainter::Antialiasing, true);
  const QRectF box(0.5, 0.5, size.width() - 1, size.height() - 1);
  if (kind == kSwitch) {
    DrawSwitchPicture(p, box);
  } else {
    const int variant = kind - kModule;
    DrawModulePicture(p, box, (variant & 2) != 0, (variant & 1) != 0);
  }
  return cached;
}

void CPLView::SetCellSize(int cellSize) {
  cellSize_ = std::clamp(cellSize, kMinCellSize, kMaxCellSize);
  for (QPixmap& picture : pictures_) picture = QPixmap();
  UpdateSize();
}

void CPLView::SetGrid(bool shown) {
  grid_ = shown;
  update();
}

uint32_t CPLView::SelectedSerial() const {
  if (selected_ < 1 || static_cast<size_t>(selected_) >= devices_.devices.size()) return 0;
  return devices_.devices[static_cast<size_t>(selected_)].Serial();
}

void CPLView::ClearSelection() {
  selected_ = rangeFirst_ = rangeLast_ = -1;
  rangeCount_ = 0;
  inBand_.assign(devices_.devices.size(), false);
  update();
  emit selectionChanged();
}

void CPLView::SelectRange(uint32_t firstSerial, uint32_t lastSerial) {
  const int a = devices_.FindDeviceBySerial(firstSerial);
  const int b = devices_.FindDeviceBySerial(lastSerial);
  inBand_.assign(devices_.devices.size(), false);
  selected_ = rangeFirst_ = rangeLast_ = -1;
  rangeCount_ = 0;
  if (a < 1) {
    update();
    return;
  }
  selected_ = a;
  if (b < 1 || b == a) {
    update();
    return;
  }
  // Every module between the two ends in a row, or just the two ends across rows.
  const CPLViewDevice& da = devices_.devices[static_cast<size_t>(a)];
  const CPLViewDevice& db = devices_.devices[static_cast<size_t>(b)];
  const QRect band = CellRectOf(da, cellSize_).united(CellRectOf(db, cellSize_));
  if (da.row == db.row) {
    SelectInBand(band);
  } else {
    inBand_[static_cast<size_t>(a)] = inBand_[static_cast<size_t>(b)] = true;
    rangeFirst_ = a;
    rangeLast_ = b;
    rangeCount_ = 2;
  }
  selected_ = a;
  update();
}

bool CPLView::InRange(int device) const {
  return device > 0 && static_cast<size_t>(device) < inBand_.size() &&
         inBand_[static_cast<size_t>(device)];
}

void CPLView::SelectInBand(const QRect& band) {
  inBand_.assign(devices_.devices.size(), false);
  rangeFirst_ = rangeLast_ = -1;
  rangeCount_ = 0;
  auto before = [this](int a, int b) {
    const CPLViewDevice& da = devices_.devices[static_cast<size_t>(a)];
    const CPLViewDevice& db = devices_.devices[static_cast<size_t>(b)];
    return da.row != db.row ? da.row < db.row : da.column < db.column;
  };
  for (size_t i = 1; i < devices_.devices.size(); ++i) {
    if (devices_.devices[i].kind != kKindModule) continue;
    if (!CellRectOf(devices_.devices[i], cellSize_).intersects(band)) continue;
    inBand_[i] = true;
    ++rangeCount_;
    const int index = static_cast<int>(i);
    if (rangeFirst_ < 0 || before(index, rangeFirst_)) rangeFirst_ = index;
    if (rangeLast_ < 0 || before(rangeLast_, index)) rangeLast_ = index;
  }
  selected_ = rangeFirst_;
  if (rangeCount_ <= 1) {
    rangeFirst_ = rangeLast_ = -1;
    rangeCount_ = 0;
  }
}

QString CPLView::ToolTipOf(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= devices_.devices.size()) return QString();
  const CPLViewDevice& device = devices_.devices[static_cast<size_t>(index)];
  if (device.kind == kKindPcSwitch || !device.node) return QString::fromStdString(adapterText_);
  const CNode_Data& node = *device.node;
  const std::string tail =
      base::Format("Ser.No: %u; Rev.No: %d.%02d; IP: %s; SubnetMask: %s; Gateway: %s",
                   node.serialNumber, ShownMajor(node), RevisionMinor(node.revision),
                   node.ipText.c_str(), node.maskText.c_str(), node.gatewayText.c_str());
  const bool draskufel = device.kind == 2;
  const std::string body = draskufel ? "Draskufel " + tail : tail;
  // Bit 0 first, bit 1 last; a module that does not know its place reports 0xFF.
  const uint8_t position = node.record[16];
  const char* place = nullptr;
  if (position == 1) place = "FIRST";
  if (position == 2) place = "LAST";
  if (position == 3) place = "FIRST && LAST";
  if (place == nullptr) return QString::fromStdString(body);
  return QString::fromStdString(base::Format("(%s)  %s", place, body.c_str()));
}

QString CPLView::ErrorTipOf(int index) const {
  if (index < 1 || static_cast<size_t>(index) >= devices_.devices.size()) return QString();
  const CPLViewDevice& device = devices_.devices[static_cast<size_t>(index)];
  if (device.error == 0) return QString();
  // The model's problem texts are marked in its context; one it composed is shown as it is.
  return QString::fromUtf8(base::Translate("TopologyModel", device.errorText.c_str()));
}

QPoint CPLView::CentreOf(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= devices_.devices.size()) return QPoint();
  return PictureRect(devices_.devices[static_cast<size_t>(index)], cellSize_).center();
}

void CPLView::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.fillRect(event->rect(), kBackground);
  p.setRenderHint(QPainter::Antialiasing, true);
  const int c = cellSize_;
  if (grid_) {
    p.setPen(QPen(kGridColour, 1));
    for (int x = 0; x < width(); x += c) p.drawLine(x, 0, x, height());
    for (int y = 0; y < height(); y += c) p.drawLine(0, y, width(), y);
  }
  // Selection behind the pictures.
  for (size_t i = 1; i < devices_.devices.size(); ++i) {
    const bool chosen = static_cast<int>(i) == selected_ || InRange(static_cast<int>(i));
    if (!chosen) continue;
    const QRectF cell = CellRectOf(devices_.devices[i], c).adjusted(c / 3, 0, -c / 3, 0);
    const bool end = static_cast<int>(i) == rangeFirst_ || static_cast<int>(i) == rangeLast_ ||
                     static_cast<int>(i) == selected_;
    p.setPen(QPen(kSelectionEdge, end ? 2 : 1, end ? Qt::SolidLine : Qt::DotLine));
    p.setBrush(kSelectionFill);
    p.drawRoundedRect(cell, 6, 6);
  }
  DrawConnections(p);
  font_ = p.font();
  font_.setPixelSize(std::clamp(c * 9 / 20, 8, 13));
  boldFont_ = font_;
  boldFont_.setBold(true);
  ascent_ = QFontMetrics(font_).ascent();
  lineStep_ = std::max(12, font_.pixelSize() + 2);
  // Only the devices whose cell (with its texts) meets the area to paint.
  const QRect area = event->rect();
  for (size_t i = 0; i < devices_.devices.size(); ++i) {
    const QRect cell = CellRectOf(devices_.devices[i], c).adjusted(-c, -c, 2 * c, c);
    if (cell.intersects(area)) DrawDevice(p, static_cast<int>(i));
  }
  if (bandShown_) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kSelectionEdge, 1, Qt::DashLine));
    p.setBrush(QColor(0x1E, 0x88, 0xE5, 0x18));
    p.drawRect(band_);
  }
}

void CPLView::DrawConnections(QPainter& p) const {
  const int c = cellSize_;
  p.setPen(QPen(kLineColour, 1));
  for (size_t i = 1; i < devices_.devices.size(); ++i) {
    const CPLViewDevice& child = devices_.devices[i];
    if (child.parent < 0 || static_cast<size_t>(child.parent) >= devices_.devices.size()) continue;
    const CPLViewDevice& parent = devices_.devices[static_cast<size_t>(child.parent)];
    const QPointF from((parent.column + 3) * c,
                       (parent.row + 1) * c + PortOffset(parent.direction, c));
    const QPointF to((child.column + 1) * c, (child.row + 1) * c + PortOffset(child.direction, c));
    // A cable is two lines one pixel apart.
    p.drawLine(from, to);
    p.drawLine(from + QPointF(0, 1), to + QPointF(0, 1));
  }
}

void CPLView::DrawDevice(QPainter& p, int index) const {
  const CPLViewDevice& device = devices_.devices[static_cast<size_t>(index)];
  const int c = cellSize_;
  const QRect picture = PictureRect(device, c);
  const QFont& font = font_;
  p.setFont(font);
  const int x = device.column * c + c;
  // The texts start 25 pixels below the row's first grid line, or under a larger picture.
  const int y = std::max(device.row * c + 25 + c, picture.bottom() + 4);
  const int lineStep = lineStep_;
  if (device.kind == kKindPcSwitch) {
    p.drawPixmap(picture.topLeft(), Picture(kSwitch));
    p.setPen(kAdapterColour);
    p.setFont(boldFont_);
    p.drawText(QPoint(x, y + lineStep - 2), QStringLiteral("PC"));
    p.setFont(font);
    // The adapter's name and address, one per line.
    const QStringList parts = QString::fromStdString(adapterText_).split(QLatin1Char(' '));
    for (int i = 0; i < parts.size(); ++i) {
      p.drawText(QPoint(x, y + (i + 2) * lineStep - 2), parts[i]);
    }
    return;
  }
  if (!device.node) return;
  const CNode_Data& node = *device.node;
  if (device.error != 0) {
    p.setPen(QPen(kErrorColour, 2));
    p.setBrush(QColor(0xC6, 0x28, 0x28, 0x22));
    p.drawRoundedRect(QRectF(picture).adjusted(-4, -4, 4, 4), 5, 5);
  }
  const int kind = kModule + (device.direction == kRightToLeft ? 1 : 0) + (device.error ? 2 : 0);
  p.drawPixmap(picture.topLeft(), Picture(static_cast<PictureKind>(kind)));
  const int ascent = ascent_;
  p.setPen(device.error != 0 ? kErrorColour : kTextColour);
  p.setFont(boldFont_);
  p.drawText(QPoint(x, y + ascent), QString::fromStdString(node.ipText));
  p.setFont(font);
  p.setPen(kTextColour);
  p.drawText(QPoint(x, y + lineStep + ascent),
             QString::fromStdString(base::Format("Ser.No: %u", node.serialNumber)));
  p.drawText(QPoint(x, y + 2 * lineStep + ascent),
             QString::fromStdString(
                 base::Format("Rev.No: %d.%02d", ShownMajor(node), RevisionMinor(node.revision))));
}

void CPLView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  const QPoint at = event->position().toPoint();
  const int hit = devices_.HitTest(at.x(), at.y(), cellSize_);
  if (event->button() == Qt::RightButton) {
    ContextClick(hit, event->globalPosition().toPoint());
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  inBand_.assign(devices_.devices.size(), false);
  rangeFirst_ = rangeLast_ = -1;
  rangeCount_ = 0;
  selected_ = hit > 0 && devices_.devices[static_cast<size_t>(hit)].kind == kKindModule ? hit : -1;
  pressAt_ = at;
  dragging_ = true;
  bandShown_ = false;
  update();
  emit selectionChanged();
}

void CPLView::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return;
  const QPoint at = event->position().toPoint();
  if (!bandShown_ && (at - pressAt_).manhattanLength() < QApplication::startDragDistance()) return;
  bandShown_ = true;
  band_ = QRect(pressAt_, at).normalized();
  update();
}

void CPLView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  if (bandShown_) {
    band_ = QRect(pressAt_, event->position().toPoint()).normalized();
    SelectInBand(band_);
    bandShown_ = false;
    update();
    emit selectionChanged();
  }
}

void CPLView::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier)) {
    event->ignore();  // the scroll area scrolls
    return;
  }
  if (event->angleDelta().y() > 0) ZoomIn();
  if (event->angleDelta().y() < 0) ZoomOut();
  event->accept();
}

void CPLView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Plus:
      ZoomIn();
      return;
    case Qt::Key_Minus:
      ZoomOut();
      return;
    case Qt::Key_0:
      SetCellSize(kDefaultCellSize);
      return;
    case Qt::Key_Menu:
      if (selected_ > 0) ContextClick(selected_, mapToGlobal(CentreOf(selected_)));
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

bool CPLView::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const int hit = devices_.HitTest(help->pos().x(), help->pos().y(), cellSize_);
    if (hit < 0) {
      QToolTip::hideText();
      HideErrorTip();
      event->ignore();
      return true;
    }
    QToolTip::showText(help->globalPos(), ToolTipOf(hit), this,
                       CellRectOf(devices_.devices[static_cast<size_t>(hit)], cellSize_));
    ShowErrorTip(hit, help->globalPos());
    return true;
  }
  return QWidget::event(event);
}

void CPLView::leaveEvent(QEvent* event) {
  HideErrorTip();
  QWidget::leaveEvent(event);
}

// The error has its own tip, below the module's, in the error colour.
void CPLView::ShowErrorTip(int device, const QPoint& globalPos) {
  const QString text = ErrorTipOf(device);
  if (text.isEmpty()) {
    HideErrorTip();
    return;
  }
  if (!errorTip_) {
    errorTip_ = new QLabel(this, Qt::ToolTip | Qt::FramelessWindowHint);
    errorTip_->setObjectName(QStringLiteral("errorTip"));
    errorTip_->setStyleSheet(QStringLiteral(
        "QLabel { background: #fff3f3; color: #b71c1c; border: 1px solid #c62828; padding: "
        "3px; }"));
  }
  errorTip_->setText(text);
  errorTip_->adjustSize();
  errorTip_->move(globalPos + QPoint(12, 36));
  errorTip_->show();
}

void CPLView::HideErrorTip() {
  if (errorTip_) errorTip_->hide();
}

QMenu* CPLView::MenuFor(int device) {
  if (device < 1 || static_cast<size_t>(device) >= devices_.devices.size()) return nullptr;
  if (!Capable(devices_.devices[static_cast<size_t>(device)])) return nullptr;
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("RClick_OnDev"));
  auto add = [&](const QString& text, const char* name, int command) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    action->setData(command);
    return action;
  };
  add(tr("AutoConfig von hier"), "autoConfigFromHere", kMenuAutoConfig);
  QAction* replace = add(tr("Dieses Modul ersetzen"), "replaceThisNode", kMenuReplace);
  replace->setEnabled(rangeCount_ <= 1);
  menu->addSeparator();
  add(tr("IP Adresse des Moduls ändern und AutoConfig"), "changeNodeIp", kMenuChangeIp);
  menu->addSeparator();
  add(tr("Auf Werkseinstellungen zurücksetzen..."), "factoryReset", kMenuFactoryReset);

  return menu;
}

void CPLView::ContextClick(int device, const QPoint& globalPos) {
  const bool module = device > 0 && static_cast<size_t>(device) < devices_.devices.size() &&
                      Capable(devices_.devices[static_cast<size_t>(device)]);
  if (!module) {
    ClearSelection();
    return;
  }
  if (rangeCount_ > 1 && InRange(device) && device != rangeFirst_ && device != rangeLast_) {
    if (beep) beep();
    return;
  }
  if (!InRange(device)) {
    inBand_.assign(devices_.devices.size(), false);
    rangeFirst_ = rangeLast_ = -1;
    rangeCount_ = 0;
  }
  selected_ = device;
  update();
  emit selectionChanged();
  QMenu* menu = MenuFor(device);
  const uint32_t serial = devices_.devices[static_cast<size_t>(device)].Serial();
  QAction* chosen = menu->exec(globalPos);
  const int command = chosen ? chosen->data().toInt() : 0;
  menu->deleteLater();
  if (command != 0 && onCommand) onCommand(command, serial);
}

}  // namespace topology::ui
