#pragma once
// `DiagnosticScreen`: the live view of why the node screen's module stops. It has no
// connection of its own: on every refresh of the node screen it asks the node screen's worker
// to read its register blocks into the node screen's image and shows what they say. It follows
// the node screen's module.
#include <QDialog>
#include <array>
#include <memory>

#include "diag/diagnostic_view.h"

class QLabel;

namespace params {
class CMRegDlg;
struct NodeScreenView;
}  // namespace params

namespace diag {

class MotorMarker;

class DiagnosticScreen : public QDialog {
  Q_OBJECT
 public:
  explicit DiagnosticScreen(params::CMRegDlg& screen, QWidget* parent = nullptr);
  ~DiagnosticScreen() override;

  // What is shown now.
  const DiagnosticContent& Shown() const { return shown_; }

 signals:
  void contentShown();

 private:
  void OnNodeScreenView();
  void Show(const DiagnosticContent& content);

  params::CMRegDlg& screen_;
  std::shared_ptr<QPointer<QObject>> guard_;
  uint64_t passesAsked_ = 0;
  bool asked_ = false;  // a read is on the node screen's worker
  bool anyShown_ = false;
  DiagnosticContent shown_;

  QLabel* unreachable_ = nullptr;
  QWidget* body_ = nullptr;
  struct ZoneLabels {
    QLabel* reason = nullptr;
    QLabel* errors = nullptr;
    QLabel* sensor = nullptr;
    QLabel* dirty = nullptr;
  };
  std::array<ZoneLabels, 2> zones_{};
  struct MotorLabels {
    QLabel* status = nullptr;
    QLabel* missing = nullptr;
    MotorMarker* marker = nullptr;
  };
  std::array<MotorLabels, 2> motors_{};
};

}  // namespace diag
