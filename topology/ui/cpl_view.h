#pragma once
// The drawing of the topology window (CPLView): the PC's switch and the modules of one adapter
// in rows and columns, drawn as vector pictures (one pair per kind, the second for a module
// mounted right to left), joined by double lines, with their texts, tool tips, zoom, selection
// by click or rubber band and the modules' context menu. It paints a snapshot of the drawing
// (copies of the nodes), so it never touches what the worker is changing.
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "topology/topology_model.h"

class QLabel;

namespace topology::ui {

// Command identifiers of the context menu (the window commands they start).
constexpr int kMenuAutoConfig = 32801;
constexpr int kMenuReplace = 32802;
constexpr int kMenuChangeIp = 32803;
constexpr int kMenuFactoryReset = 32805;

class CPLView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kDefaultCellSize = 26;
  static constexpr int kMinCellSize = 12;
  static constexpr int kMaxCellSize = 48;

  explicit CPLView(QWidget* parent = nullptr);

  // A new drawing; the selection is kept for modules still drawn (by serial number).
  void SetDrawing(const DeviceArray& devices, const std::string& adapterText);
  const DeviceArray& Drawing() const { return devices_; }

  int CellSize() const { return cellSize_; }
  void SetCellSize(int cellSize);
  void ZoomIn() { SetCellSize(cellSize_ + 2); }
  void ZoomOut() { SetCellSize(cellSize_ - 2); }
  void SetGrid(bool shown);

  // Selection: the selected device (-1 none), the range's ends (first and last by position)
  // and the number of modules in the range (0 without a range).
  int Selected() const { return selected_; }
  int RangeFirst() const { return rangeFirst_; }
  int RangeLast() const { return rangeLast_; }
  int RangeCount() const { return rangeCount_; }
  uint32_t SelectedSerial() const;
  // Selects the modules of these serial numbers as a range (an AutoConfig's ends after the
  // redraw); one serial, or the same twice, selects one module.
  void SelectRange(uint32_t firstSerial, uint32_t lastSerial);
  void ClearSelection();

  // The tool tips of a device: the module's text and, for a module with a problem, the error.
  QString ToolTipOf(int device) const;
  QString ErrorTipOf(int device) const;
  // Centre of a device's picture in widget pixels (for tests and the keyboard).
  QPoint CentreOf(int device) const;

  // The context menu as it would open on `device` (null when a right click there shows none);
  // the caller owns it. Exposed so that tests can read its items without running it.
  class QMenu* MenuFor(int device);
  // Handles a right click on `device` like the mouse does: beep, nothing, or the menu.
  void ContextClick(int device, const QPoint& globalPos);

  // Called for the menu's commands with the device's serial number.
  std::function<void(int command, uint32_t serial)> onCommand;
  // The default beep.
  std::function<void()> beep;

  QSize sizeHint() const override;

 signals:
  void selectionChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // A module's picture: kModule, plus 1 when mounted right to left, plus 2 when faulty.
  enum PictureKind { kSwitch, kModule, kPictureKinds = kModule + 4 };
  const QPixmap& Picture(PictureKind kind) const;
  void DrawDevice(class QPainter& painter, int index) const;
  void DrawConnections(QPainter& painter) const;
  void SelectInBand(const QRect& band);
  bool InRange(int device) const;
  void ShowErrorTip(int device, const QPoint& globalPos);
  void HideErrorTip();
  void UpdateSize();

  DeviceArray devices_;
  std::string adapterText_;
  int cellSize_ = kDefaultCellSize;
  bool grid_ = false;
  int selected_ = -1;
  int rangeFirst_ = -1;
  int rangeLast_ = -1;
  int rangeCount_ = 0;
  std::vector<bool> inBand_;
  QPoint pressAt_;
  QRect band_;
  bool bandShown_ = false;
  bool dragging_ = false;
  QPointer<QLabel> errorTip_;
  mutable std::array<QPixmap, kPictureKinds> pictures_;
  // Fonts of the texts at the current zoom, set at the start of every paint.
  QFont font_, boldFont_;
  int ascent_ = 0;
  int lineStep_ = 12;
};

}  // namespace topology::ui
