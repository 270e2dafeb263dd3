#include "watch/ui/watch_line_view.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <charconv>

#include "topology/node_command.h"

namespace watch::ui {

namespace {

// Rows and columns beyond any real line: a damaged record cannot push the drawing's grid
// units past their 16-bit range.
constexpr int kMaxRecordedPlace = 4000;

uint32_t DirectionOf(const std::string& name) {
  if (name == "left-to-right") return topology::kLeftToRight;
  if (name == "right-to-left") return topology::kRightToLeft;
  return topology::kUndetermined;
}

// "4.14" as the discovery's revision word (major in the high byte); 0 when it is no such text.
uint16_t RevisionOf(const std::string& firmware) {
  const size_t dot = firmware.find('.');
  if (dot == std::string::npos) return 0;
  unsigned major = 0, minor = 0;
  const char* begin = firmware.data();
  const char* end = begin + firmware.size();
  const auto a = std::from_chars(begin, begin + dot, major);
  const auto b = std::from_chars(begin + dot + 1, end, minor);
  if (a.ec != std::errc() || a.ptr != begin + dot || b.ec != std::errc() || b.ptr != end ||
      major > 0xFF || minor > 0xFF) {
    return 0;
  }
  return static_cast<uint16_t>((major << 8) | minor);
}

uint16_t GridUnits(int place, int least) {
  return static_cast<uint16_t>(std::clamp(place, least, kMaxRecordedPlace) * topology::kGridStep);
}

QColor ToneColour(StateTone tone) {
  switch (tone) {
    case StateTone::Good:
      return QColor(0x2E, 0x7D, 0x32);
    case StateTone::Warning:
      return QColor(0xB2, 0x6A, 0x00);
    case StateTone::Bad:
      return QColor(0xC6, 0x28, 0x28);
  }
  return Qt::black;
}

}  // namespace

QString DurationText(std::chrono::milliseconds duration) {
  const long long total = std::max<long long>(0, duration.count() / 1000);
  const long long days = total / 86400;
  const QString clock = QStringLiteral("%1:%2:%3")
                            .arg((total / 3600) % 24)
                            .arg((total / 60) % 60, 2, 10, QLatin1Char('0'))
                            .arg(total % 60, 2, 10, QLatin1Char('0'));
  return days > 0 ? QStringLiteral("%1 d %2").arg(days).arg(clock) : clock;
}

topology::DeviceArray RecordDrawing(const LineSnapshot& snapshot, Clock::time_point now) {
  topology::DeviceArray view;
  std::map<uint32_t, int> indexBySerial;
  for (const ModuleWatchState& module : snapshot.modules) {
    auto node = std::make_shared<CNode_Data>();
    node->serialNumber = module.serial;
    node->ipText = module.ip;
    node->revision = RevisionOf(module.firmware);
    node->direction = DirectionOf(module.direction);
    node->linkedToPcSwitch = module.parent ? 0 : 1;
    topology::CPLViewDevice device;
    device.parent = 0;
    device.kind = topology::kKindModule;
    device.column = GridUnits(module.position.column, 1);
    device.row = GridUnits(module.position.row, 0);
    device.direction = node->direction;
    device.node = node;
    if (module.presence == Presence::Gone || module.presence == Presence::Replaced) {
      device.error = 1;
      device.errorText = CWatchLineView::StateOf(module, now).text.toStdString();
    }
    view.devices.push_back(device);
    indexBySerial.emplace(module.serial, static_cast<int>(view.devices.size() - 1));
    view.maxColumn = std::max(view.maxColumn, device.column);
    view.g_RecursiveMAXRowNum = std::max(view.g_RecursiveMAXRowNum, device.row);
  }
  for (size_t i = 1; i < view.devices.size(); ++i) {
    const ModuleWatchState& module = snapshot.modules[i - 1];
    if (!module.parent) continue;
    const auto parent = indexBySerial.find(*module.parent);
    if (parent != indexBySerial.end() && parent->second != static_cast<int>(i)) {
      view.devices[i].parent = parent->second;
    }
  }
  // The PC's switch at mid height of a tall drawing, as the topology window places it.
  if (view.g_RecursiveMAXRowNum > 7) {
    view.devices[0].row = static_cast<uint16_t>((view.g_RecursiveMAXRowNum - 7) / 2);
  }
  return view;
}

CWatchLineView::CWatchLineView(QWidget* parent) : topology::ui::CPLView(parent) {
  setObjectName(QStringLiteral("watchView"));
}

ModuleStateText CWatchLineView::StateOf(const ModuleWatchState& module, Clock::time_point now) {
  const auto since = [&]() -> QString {
    if (!module.goneSince) return QString();
    return DurationText(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - *module.goneSince));
  };
  switch (module.presence) {
    case Presence::Missing:
      return {module.goneSince ? tr("antwortet nicht seit %1").arg(since()) : tr("antwortet nicht"),
              StateTone::Warning};
    case Presence::Gone:
      return {module.goneSince ? tr("fehlt seit %1").arg(since()) : tr("fehlt"), StateTone::Bad};
    case Presence::Replaced: {
      QString text = tr("ersetzt: SN %1").arg(module.replacementSerial);
      if (module.restoreRunning) text += tr(", wird wiederhergestellt");
      return {text, StateTone::Bad};
    }
    case Presence::Present:
      break;
  }
  QStringList changes;
  if (module.moved) changes << tr("versetzt");
  if (module.turned) changes << tr("gedreht");
  if (module.otherAddress) {
    changes << (module.ipNow.empty()
                    ? tr("andere Adresse")
                    : tr("andere Adresse %1").arg(QString::fromStdString(module.ipNow)));
  }
  if (module.otherFirmware) changes << tr("andere Firmware");
  if (changes.isEmpty()) return {tr("vorhanden"), StateTone::Good};
  return {changes.join(QStringLiteral(", ")), StateTone::Warning};
}

void CWatchLineView::ShowSnapshot(const LineSnapshot& snapshot, Clock::time_point now) {
  modules_ = snapshot.modules;
  SetDrawing(RecordDrawing(snapshot, now), std::string());
  RefreshStates(now);
}

void CWatchLineView::RefreshStates(Clock::time_point now) {
  states_.clear();
  for (const ModuleWatchState& module : modules_) states_[module.serial] = StateOf(module, now);
  update();
}

QString CWatchLineView::StateTextOf(uint32_t serial) const {
  const auto found = states_.find(serial);
  return found == states_.end() ? QString() : found->second.text;
}

StateTone CWatchLineView::StateToneOf(uint32_t serial) const {
  const auto found = states_.find(serial);
  return found == states_.end() ? StateTone::Good : found->second.tone;
}

bool CWatchLineView::AnyTimeShown() const {
  return std::any_of(modules_.begin(), modules_.end(), [](const ModuleWatchState& module) {
    return module.goneSince &&
           (module.presence == Presence::Missing || module.presence == Presence::Gone);
  });
}

void CWatchLineView::paintEvent(QPaintEvent* event) {
  topology::ui::CPLView::paintEvent(event);
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  const int c = CellSize();
  // The view's picture height at this zoom: the label stands just above the picture.
  const int pictureHeight = std::max(2 * c - 16, 8);
  QFont font = p.font();
  font.setPixelSize(std::clamp(c * 9 / 20, 8, 12));
  p.setFont(font);
  const QFontMetrics metrics(font);
  // A label never reaches into its right-hand neighbour's (the full text is in the tool tip of
  // a gone or replaced module, and in the event list).
  const int widest = topology::kGridStep * c - 16;
  const topology::DeviceArray& drawing = Drawing();
  for (size_t i = 1; i < drawing.devices.size(); ++i) {
    const auto state = states_.find(drawing.devices[i].Serial());
    if (state == states_.end()) continue;
    const QPoint centre = CentreOf(static_cast<int>(i));
    const int pictureTop = centre.y() - pictureHeight / 2;
    const int left = drawing.devices[i].column * c + c;
    const QString text = metrics.elidedText(state->second.text, Qt::ElideRight, widest);
    const QRect label(left, pictureTop - metrics.height() - 4, metrics.horizontalAdvance(text) + 8,
                      metrics.height() + 2);
    if (!label.adjusted(-2, -2, 2, 2).intersects(event->rect())) continue;
    const QColor colour = ToneColour(state->second.tone);
    QColor fill = colour;
    fill.setAlpha(0x28);
    p.setPen(QPen(colour, 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(label), 3, 3);
    p.drawText(label, Qt::AlignCenter, text);
  }
}

}  // namespace watch::ui
