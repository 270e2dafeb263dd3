#pragma once
// "Verbindungen" (CDlgConnections) and "Erweiterungen" (CDlgExtension): the links of the node
// screen's module to its neighbours and to a PLC, and the module as an extension of a master.
// Both run their module traffic as jobs on the node screen's worker (Apply waits 10 s and more
// for the restart; Apply All runs one worker per module), so the GUI thread never waits; the
// progress bar and the dialog's fields are updated by queued calls.
#include <QDialog>
#include <functional>
#include <string>

#include "config/connections.h"
#include "config/extension.h"
#include "ui/ctab_dlg.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

namespace params {
class CMRegDlg;
}

namespace config {

// What a module shows in the dialogs when they read it.
struct ConnectionsShown {
  bool read = false;
  std::string address;
  std::string mask;
  int node = 0;
  uint16_t register6 = 0;
  uint16_t mode = 0;
  Descriptor upstream{};
  Descriptor downstream{};
  uint16_t outputs = 0;
};

class CDlgConnections : public QDialog {
  Q_OBJECT
 public:
  // What lies outside the node screen, from the program (tests may leave them empty): the PLC
  // lock (sends it, returns the module's lock state or -1) and a module's subnet mask as the
  // inventory knows it.
  struct Hooks {
    std::function<int(const std::string& ip, bool lock)> readLock;
    std::function<std::string(const std::string& ip)> maskFor;
  };

  CDlgConnections(params::CMRegDlg& screen, Hooks hooks, QWidget* parent = nullptr);

  // The rules' state and what the dialog last read (for tests).
  const ConnectionChoices& Choices() const { return choices_; }
  const ConnectionsShown& Shown() const { return shown_; }
  // True while Apply or Apply All runs.
  bool Busy() const { return busy_; }
  int Applies() const { return applies_; }

 public slots:
  void ReadModule();
  void Apply();
  void ApplyAllModules();
  void ShowPlcControls();  // Shift+Alt+E

 signals:
  void moduleRead();
  void applyEnded();

 private:
  void Build();
  void Sync();     // widgets from the rules' state
  void Collect();  // the rules' state from the widgets
  void ShowRead(const ConnectionsShown& shown);
  void SetBusy(bool busy);

  params::CMRegDlg& screen_;
  Hooks hooks_;
  ConnectionChoices choices_;
  ConnectionsShown shown_;
  bool busy_ = false;
  bool syncing_ = false;
  int applies_ = 0;

  QLabel* node_ = nullptr;
  QLabel* address_ = nullptr;
  QLabel* mask_ = nullptr;
  struct Side {
    QRadioButton* byNode = nullptr;
    QRadioButton* byAddress = nullptr;
    QComboBox* node = nullptr;
    QLineEdit* address = nullptr;
  };
  Side up_, down_, accumulation_;
  QCheckBox* plcIo_ = nullptr;
  QCheckBox* hardware_ = nullptr;
  QCheckBox* slave_ = nullptr;
  QCheckBox* pallet_ = nullptr;
  QCheckBox* transparent_ = nullptr;
  QCheckBox* clear_ = nullptr;
  QComboBox* outputs_ = nullptr;
  QCheckBox* pushPullLeft_ = nullptr;
  QCheckBox* pushPullRight_ = nullptr;
  QComboBox* fromZone_ = nullptr;
  QComboBox* toZone_ = nullptr;
  QLabel* plcLabel_ = nullptr;
  QLineEdit* plcFile_ = nullptr;
  QPushButton* browse_ = nullptr;
  QCheckBox* lock_ = nullptr;
  QCheckBox* deletePlc_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* apply_ = nullptr;
  QPushButton* applyAll_ = nullptr;
};

class CDlgExtension : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgExtension(params::CMRegDlg& screen, QWidget* parent = nullptr);
  bool Busy() const { return busy_; }
  ExtensionOutcome LastOutcome() const { return outcome_; }

 public slots:
  void ReadModule();
  void Apply();

 signals:
  void moduleRead();
  void applyEnded();

 private:
  params::CMRegDlg& screen_;
  bool busy_ = false;
  ExtensionOutcome outcome_ = ExtensionOutcome::kRefused;
  std::string address_;
  QLabel* node_ = nullptr;
  QLabel* ip_ = nullptr;
  QComboBox* master_ = nullptr;
  QPushButton* apply_ = nullptr;
};

// The advanced window's pages "Verbindungen" (index 2) and "Erweiterungen" (index 8) on the
// node screen `screen`.
void InstallConnectionPages(params::CMRegDlg& screen, ui::CTabDlg::Pages& pages,
                            CDlgConnections::Hooks hooks);

}  // namespace config
