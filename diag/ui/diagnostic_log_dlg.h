#pragma once
// `CDiagnosticLog` ("Diagnostik log"): the two diagnostic event logs of the node screen's module,
// read through the node screen's register client (on its worker), one list per log. Read on
// opening, on "Einlesen", and again every 2 s while open.
#include <QDialog>
#include <array>
#include <memory>
#include <optional>

#include "diag/diagnostic_log_reader.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace params {
class CMRegDlg;
}

namespace diag {

class CDiagnosticLog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kTimerMs = 2000;

  explicit CDiagnosticLog(params::CMRegDlg& screen, QWidget* parent = nullptr);
  ~CDiagnosticLog() override;

  // Reads both logs again (off the GUI thread).
  void Read();
  QTreeWidget* List(int log) const { return lists_[static_cast<size_t>(log)]; }
  uint64_t ReadsShown() const { return readsShown_; }

 signals:
  void logsShown();

 private:
  void Show(const std::optional<DiagnosticLogs>& logs);

  params::CMRegDlg& screen_;
  std::shared_ptr<QPointer<QObject>> guard_;
  bool reading_ = false;
  uint64_t readsShown_ = 0;
  std::array<QTreeWidget*, 2> lists_{};
  std::array<QLabel*, 2> captions_{};
  QTimer* timer_ = nullptr;
};

}  // namespace diag
