#pragma once
// The node screen's module picture: our own vector drawing of the module, its two drives and
// two zones, the flow direction, the zones' states and the fault colours. Clicking it asks
// for the diagnostic screen.
#include <QWidget>

#include "params/module_picture_state.h"

namespace params {

class ModulePicture : public QWidget {
  Q_OBJECT
 public:
  explicit ModulePicture(QWidget* parent = nullptr);

  // Repaints only when something shown changed.
  void SetState(const ModulePictureState& state);
  const ModulePictureState& State() const { return state_; }
  QSize sizeHint() const override { return QSize(300, 150); }
  QSize minimumSizeHint() const override { return QSize(220, 120); }

 signals:
  void diagnosticScreenRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  ModulePictureState state_;
};

}  // namespace params
