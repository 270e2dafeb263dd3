#pragma once
// `CDlgDiagnostic` ("Diagnose"): the statistics of one module at a time (reset counters, last
// reset, connection counters, the service text port's figures), its module number stepper that
// moves the node screen along, the counter resets, and the statistics files of one module or
// of a range. Every module read runs off the GUI thread.
#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "diag/statistics.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace diag {

class CDlgDiagnostic : public QDialog {
  Q_OBJECT
 public:
  // Where the dialog stands: the node screen's network ("a.b.c.d") and module number, and the
  // way to move the node screen to another module (its address field and a read).
  struct Host {
    std::function<std::string()> network;
    std::function<int()> module;
    std::function<void(int module)> readdress;
  };
  // Asks for the name a file is saved under, with the proposed one; empty: not saved.
  using SaveNameChooser = std::function<QString(QWidget* parent, const QString& proposed)>;

  explicit CDlgDiagnostic(Host host, QWidget* parent = nullptr);

  void SetSaveNameChooser(SaveNameChooser chooser) { chooseName_ = std::move(chooser); }
  // The folder the file names are proposed in (default: the desktop).
  void SetProposedFolder(const QString& folder) { folder_ = folder; }

  int Module() const { return module_; }
  // What the last read gave (nullopt: the module did not answer).
  const std::optional<ModuleStatistics>& Figures() const { return figures_; }
  uint64_t ReadsShown() const { return readsShown_; }
  bool Busy() const { return busy_; }

 public slots:
  void Read();         // Einlesen
  void StepUp();       // the module number's up button
  void StepDown();     // its down button
  void ModuleTyped();  // Return in the module number field
  void SaveToFile();   // one module
  void SaveRange();    // GetRange & Save to File
  void ResetUndervoltage();
  void ResetOthers();

 signals:
  void figuresShown();
  void fileSaved(const QString& path);
  void saveFailed(const QString& text);

 private:
  void StepTo(int module);
  void Show(const std::optional<ModuleStatistics>& figures);
  void SetBusy(bool busy);
  std::string ModuleAddress(int module) const;
  bool NetworkBytes(uint8_t (&network)[3]) const;
  void ReportSaveFailure(const QString& path);
  void ResetCounters(int which);

  Host host_;
  SaveNameChooser chooseName_;
  QString folder_;
  int module_ = kFirstModule;
  bool busy_ = false;
  uint64_t readsShown_ = 0;
  std::optional<ModuleStatistics> figures_;

  QLabel* network_ = nullptr;
  QLineEdit* module_edit_ = nullptr;
  std::array<QLabel*, 5> registers_{};  // 23, 265, last reset, 286, 287
  std::array<QLabel*, 4> flash_{};      // numSavedL, numSavedH, bValidCRC_L, bValidCRC_H
  std::array<QLabel*, 3> cpu_{};        // min, max, average
  QLabel* memory_ = nullptr;
  QLabel* firmware_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  QLabel* lastFile_ = nullptr;
  QLabel* lastRange_ = nullptr;
  QLabel* status_ = nullptr;
  std::vector<QWidget*> commands_;  // locked while a read runs
};

}  // namespace diag
