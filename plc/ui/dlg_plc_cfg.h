#pragma once
// The PLC data view: the tags of a module's PLC program as check boxes, edit fields with their
// apply button and combo boxes, refreshed from block reads of the module's PLC data area on a
// cycle. Requests are submitted on the view's worker (SubmitRequest pauses its caller); the
// request manager's notifications come back as queued calls, so the GUI thread never waits on
// the network. The tags are tied to the module's program: they are shown, and written, only
// while the module runs the program the tag file names (read again before every write).
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/prompt.h"
#include "base/serial_worker.h"
#include "plc/plc_data_model.h"
#include "plc/request_manager.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace plc {

class CDlgPLC_CFG : public QDialog {
  Q_OBJECT
 public:
  inline static const char* const kNoProgramInfo =
      "Es können keine Programminformationen vom Modul mit IP: %s gelesen werden!";
  static constexpr int kLoadDelayMs = 1500;  // timer 1

  inline static const char* const kWriteRefusedCaption = "Achtung";

  // `tagFile`: the tag description to load on first showing ("" : the user picks one).
  // `readProgram`: asks a module which PLC program it runs (blocks; called on the worker).
  CDlgPLC_CFG(const std::string& address, const std::string& tagFile, base::Prompt& prompt,
              ModuleProgramReader readProgram, QWidget* parent = nullptr,
              CRequestManager& manager = ProcessRequestManager());
  ~CDlgPLC_CFG() override;

  // Loads a tag description now: a ".json" file itself, or the one next to a program file.
  // False (and the status line says why) when it cannot be read. The tags appear once the
  // module is found to run the program they describe; otherwise the status line says why not.
  bool LoadTags(const std::string& path);
  const CPlcDataModel& Model() const { return model_; }
  std::string Address() const;
  // Shows another module: the image of the previous one is dropped and the tag file is loaded
  // again for the new module's program (nothing is shown or written before that check).
  void SetAddress(const std::string& address);
  // True while the tags are shown for the module (its program matches the tag file).
  bool TagsShown() const { return tagsShown_; }
  uint64_t Refreshes() const { return model_.Refreshes(); }

 protected:
  void showEvent(QShowEvent* event) override;

 private slots:
  void OnNotify(unsigned notification);

 private:
  struct TagRow {
    QCheckBox* check = nullptr;
    QLineEdit* edit = nullptr;
    QPushButton* apply = nullptr;
    QComboBox* combo = nullptr;
  };
  void BuildTags();
  void ClearTags();
  void ShowValues();
  void CheckProgram();
  void OnProgramChecked(uint64_t generation, const std::string& refusal);
  // A write: submitted only after the module has been asked again which program it runs.
  void SubmitWrite(CTagRequest request);
  void Pass();
  void PickTagFile();
  void SetStatus(const QString& text, bool error);

  CRequestManager& manager_;
  base::Prompt& prompt_;
  ModuleProgramReader readProgram_;
  bool tagsShown_ = false;
  // Bumped by every load and change of module: checks and writes of an earlier one are void.
  std::atomic<uint64_t> generation_{0};
  CPlcDataModel model_;
  std::string tagFile_;
  bool shownOnce_ = false;
  QTimer loadTimer_;
  QLineEdit* address_ = nullptr;
  QSpinBox* base_ = nullptr;
  QLabel* program_ = nullptr;
  QLabel* status_ = nullptr;
  QWidget* tagsBox_ = nullptr;
  QGridLayout* tagsGrid_ = nullptr;
  std::vector<TagRow> rows_;
  // What the worker's pass reads (set on the GUI thread, read on the worker).
  std::atomic<bool> reading_{false};
  std::atomic<int> inFlight_{0};  // block reads submitted and not yet handled
  mutable std::mutex addressLock_;
  std::string addressText_;
  std::vector<BlockRead> plan_;  // under addressLock_
  std::unique_ptr<base::SerialWorker> worker_;
};

}  // namespace plc
