#include "params/ui/module_picture.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace params {
namespace {

QColor ColourOf(PictureColour colour) {
  switch (colour) {
    case PictureColour::Green:
      return QColor(46, 160, 67);
    case PictureColour::Yellow:
      return QColor(230, 180, 0);
    case PictureColour::Red:
      return QColor(210, 40, 40);
    case PictureColour::Off:
      break;
  }
  return QColor(150, 150, 150);
}

// A run of rollers seen from above, with the drive roller (MDR) marked by its state colour.
void DrawZone(QPainter& p, const QRectF& area, bool used, bool jam, bool sensorFault,
              bool accumulate, bool forcedRun, bool driveShown, PictureColour drive,
              bool driveAtInnerEnd, const QString& title, bool known) {
  p.save();
  const QColor frame = used ? QColor(70, 80, 90) : QColor(185, 185, 185);
  p.setPen(QPen(jam ? QColor(210, 40, 40) : frame, jam ? 3.0 : 1.5));
  p.setBrush(used ? QColor(236, 240, 244) : QColor(246, 246, 246));
  p.drawRoundedRect(area, 4, 4);

  const int rollers = 9;
  const qreal step = area.width() / (rollers + 1);
  for (int i = 1; i <= rollers; ++i) {
    const qreal x = area.left() + i * step;
    const bool isDrive =
        driveShown && ((driveAtInnerEnd && i == rollers) || (!driveAtInnerEnd && i == 1));
    if (isDrive) {
      p.setPen(Qt::NoPen);
      p.setBrush(used ? ColourOf(drive) : QColor(200, 200, 200));
      p.drawRoundedRect(QRectF(x - 4, area.top() + 6, 8, area.height() - 12), 3, 3);
    } else {
      p.setPen(QPen(used ? QColor(130, 140, 150) : QColor(215, 215, 215), 2.0));
      p.drawLine(QPointF(x, area.top() + 8), QPointF(x, area.bottom() - 8));
    }
  }
  if (used) {
    // Zone sensor at the zone's downstream end.
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(sensorFault ? QColor(240, 140, 0) : QColor(90, 170, 230));
    p.drawEllipse(QPointF(area.center().x(), area.bottom() - 4), 4, 4);
  }
  p.setPen(used ? QColor(40, 40, 40) : QColor(160, 160, 160));
  QFont font = p.font();
  font.setPointSizeF(font.pointSizeF() * 0.85);
  p.setFont(font);
  QString state;
  if (!used) {
    if (known) state = QCoreApplication::translate("params::ModulePicture", "nicht benutzt");
  } else if (jam) {
    state = QCoreApplication::translate("params::ModulePicture", "Stau");
  } else if (forcedRun) {
    state = QCoreApplication::translate("params::ModulePicture", "Forced Run");
  } else if (accumulate) {
    state = QCoreApplication::translate("params::ModulePicture", "Aufstauen");
  }
  p.drawText(QRectF(area.left(), area.top() - 16, area.width(), 14), Qt::AlignCenter, title);
  if (!state.isEmpty()) {
    const QRectF badge(area.center().x() - 40, area.center().y() - 9, 80, 18);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawRoundedRect(badge, 4, 4);
    p.setPen(jam ? QColor(200, 30, 30) : QColor(40, 40, 40));
    p.drawText(badge, Qt::AlignCenter, state);
  }
  p.restore();
}

}  // namespace

ModulePicture::ModulePicture(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::PointingHandCursor);
  setToolTip(tr("Diagnose"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void ModulePicture::SetState(const ModulePictureState& state) {
  if (state == state_) return;
  state_ = state;
  update();
}

void ModulePicture::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit diagnosticScreenRequested();
  }
  QWidget::mouseReleaseEvent(event);
}

void ModulePicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF all = QRectF(rect()).adjusted(4, 4, -4, -4);
  p.setPen(QPen(QColor(200, 205, 210), 1));
  p.setBrush(Qt::white);
  p.drawRoundedRect(all, 6, 6);

  const bool on = state_.connected;
  // Flow arrow along the top.
  const qreal arrowY = all.top() + 14;
  const qreal ax0 = all.left() + 30, ax1 = all.right() - 30;
  p.setPen(QPen(on ? QColor(40, 110, 190) : QColor(190, 190, 190), 2.5));
  p.drawLine(QPointF(ax0, arrowY), QPointF(ax1, arrowY));
  QPainterPath head;
  if (state_.leftToRight) {
    head.moveTo(ax1 + 8, arrowY);
    head.lineTo(ax1 - 4, arrowY - 6);
    head.lineTo(ax1 - 4, arrowY + 6);
  } else {
    head.moveTo(ax0 - 8, arrowY);
    head.lineTo(ax0 + 4, arrowY - 6);
    head.lineTo(ax0 + 4, arrowY + 6);
  }
  head.closeSubpath();
  p.fillPath(head, on ? QColor(40, 110, 190) : QColor(190, 190, 190));

  // Two zones side by side; the upstream zone is where the flow enters.
  const qreal zoneTop = arrowY + 26;
  const qreal zoneHeight = qMax<qreal>(36, all.height() * 0.36);
  const qreal gap = 10;
  const qreal zoneWidth = (all.width() - 3 * gap) / 2;
  const QRectF leftArea(all.left() + gap, zoneTop, zoneWidth, zoneHeight);
  const QRectF rightArea(leftArea.right() + gap, zoneTop, zoneWidth, zoneHeight);
  const int upstreamSide = state_.leftToRight ? 0 : 1;  // physical side of the upstream zone
  for (int zone = 0; zone < 2; ++zone) {
    const int side = zone == 0 ? upstreamSide : 1 - upstreamSide;
    const QRectF area = side == 0 ? leftArea : rightArea;
    // The drive on the same physical side powers that half of the module.
    DrawZone(p, area, on && state_.zoneUsed[zone], on && state_.zoneJam[zone],
             on && state_.zoneSensorFault[zone], on && state_.zoneAccumulate[zone],
             on && state_.zoneForcedRun[zone], state_.driveShown[side],
             on ? state_.driveState[side] : PictureColour::Off, side == 0,
             zone == 0 ? tr("Vorgelagerte Zone") : tr("Nachgelagerte Zone"), on);
  }

  // The module body under the zones, with its two drive ports.
  const qreal bodyTop = zoneTop + zoneHeight + 10;
  const QRectF body(all.center().x() - all.width() * 0.22, bodyTop, all.width() * 0.44,
                    qMax<qreal>(26, all.bottom() - bodyTop - 6));
  p.setPen(QPen(QColor(50, 60, 70), 1.5));
  p.setBrush(on ? QColor(52, 73, 94) : QColor(170, 175, 180));
  p.drawRoundedRect(body, 5, 5);
  for (int side = 0; side < 2; ++side) {
    const QRectF port(side == 0 ? body.left() + 6 : body.right() - 22, body.center().y() - 7, 16,
                      14);
    p.setPen(Qt::NoPen);
    p.setBrush(state_.driveShown[side] && on ? ColourOf(state_.driveState[side])
                                             : QColor(200, 200, 200));
    p.drawRoundedRect(port, 3, 3);
    // A cable from the port up to the drive roller.
    const QRectF area = side == 0 ? leftArea : rightArea;
    const qreal rollerX =
        side == 0 ? area.right() - area.width() / 10 : area.left() + area.width() / 10;
    if (state_.driveShown[side]) {
      p.setPen(QPen(on ? QColor(90, 90, 90) : QColor(200, 200, 200), 1.2, Qt::DashLine));
      p.drawLine(QPointF(port.center().x(), port.top()), QPointF(rollerX, area.bottom()));
    }
  }
  p.setPen(Qt::white);
  QFont font = p.font();
  font.setBold(true);
  p.setFont(font);
  p.drawText(body.adjusted(24, 0, -24, 0), Qt::AlignCenter,
             state_.caption.empty() ? tr("Modul") : QString::fromStdString(state_.caption));
}

}  // namespace params
