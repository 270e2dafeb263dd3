#pragma once
// The node screen: Quillmar's main window. It shows one module at a time, built from the
// display item table (every item with its German label, per side), and posts every command
// to the node screen's worker; what it paints comes back from the worker as views, queued to
// the GUI thread. The GUI thread never waits on the network.
#include <QDialog>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "params/display_items.h"
#include "params/node_screen_controller.h"
#include "params/node_screen_worker.h"
#include "params/range_operations.h"
#include "ui/ctab_dlg.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QGridLayout;
class QGroupBox;

namespace params {

class ModulePicture;
class IndicatorLamp;

class CMRegDlg : public QDialog {
  Q_OBJECT
 public:
  // prompt and profile must outlive the window. With a start address the window changes to
  // that module as soon as it runs. `rangeHooks` give the range operations what lies outside
  // the screen (the PC address for Debugging, the zone-logic conversion).
  CMRegDlg(std::unique_ptr<NodeLink> link, base::Prompt& prompt, platform::ProfileStore& profile,
           const std::string& startAddress = std::string(), QWidget* parent = nullptr,
           ScreenRangeHooks rangeHooks = {});
  ~CMRegDlg() override;

  // The worker that runs the module traffic (range operations and pages post to it).
  NodeScreenWorker& Worker() { return *worker_; }
  // The range operations of this screen (SetAll, Set Alle, ZPA / DTA, Format Flash, Debugging).
  ScreenRangeOperations& Ranges() { return *ranges_; }
  // The last view painted.
  const NodeScreenView& ShownView() const { return shown_; }
  // How long painting the worker's views has taken on the GUI thread (for the benchmark).
  struct PaintStats {
    uint64_t paints = 0;
    int64_t longestNs = 0;
    int64_t totalNs = 0;
  };
  const PaintStats& Painting() const { return paintStats_; }
  // The advanced functions window, while it is open.
  QDialog* AdvancedWindow() const { return advanced_; }
  // The screens the node screen opens: the program installs each as it exists; a button or key
  // whose screen is not installed does nothing.
  struct Screens {
    std::function<void()> diagnosticScreen;  // a click on the module picture
    std::function<void()> diagnosticLog;
    std::function<void()> statistics;    // Ctrl+Shift+S
    std::function<void()> driveHistory;  // Ctrl+Alt+H
    std::function<void()> merger;        // "Merger" or Ctrl+Shift+M
    std::function<void()> driveController;
    std::function<void()> topology;   // Ctrl+Shift+T: the line's topology window
    std::function<void()> report;     // the advanced window's "Übergabebericht..."
    std::function<void()> lineWatch;  // the advanced window's "Linienwache..."
  };
  void SetScreens(Screens screens) { screens_ = std::move(screens); }
  // The PLC data view of the shown module ("PLC Daten", shown for a module in PLC mode).
  void SetPlcDataScreen(std::function<void(const std::string& address)> screen) {
    plcDataScreen_ = std::move(screen);
  }
  // The pages the advanced functions window shows (the program installs them).
  void SetAdvancedPages(ui::CTabDlg::Pages pages) { advancedPages_ = std::move(pages); }

  // Range of nodes and network as typed in the window.
  std::string NetworkText() const;
  std::string FromText() const;
  std::string ToText() const;
  // What a field of the display table shows now (for SetAll): an edit's text (a list's entry
  // in its own words, whatever language shows it), a list's selected entry (-1 none), a check
  // box's state.
  std::string FieldText(int itemId, Side side) const;
  int ListEntry(int itemId, Side side) const;
  bool Ticked(int itemId, Side side) const;

 public slots:
  void Refresh();  // Einlesen
  void NextNode();
  void PreviousNode();
  void OpenAdvanced();
  // Range operations over the From..To nodes, posted to the worker with the wait indication.
  void SetAllField(int itemId, Side side);
  void SetAllModule();
  void FormatFlash();  // Shift+Alt+F: only while this window is active and no advanced window
  void Debugging();    // Ctrl+Alt+D: the same
  void ZpaDtaSelected(int entry);
  void CancelRange();  // the wait indication's cancel

 signals:
  // A new view was painted (tests wait on it).
  void viewShown();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  struct SideControls {
    QWidget* control = nullptr;  // QLabel, QLineEdit, QComboBox, QCheckBox, QPushButton, lamp
    QPushButton* set = nullptr;
    QPushButton* setAll = nullptr;
  };
  struct ItemControls {
    QLabel* label = nullptr;
    std::array<SideControls, 2> side;
  };

  void BuildWindow();
  QGroupBox* BuildSidePanel(ItemGroup group, const std::vector<int>& order);
  QWidget* BuildModulePanel();
  void AddItemRow(QGridLayout* grid, int row, const DisplayItem& item);
  QWidget* MakeControl(const DisplayItem& item, Side side);
  void ConnectControl(const DisplayItem& item, Side side);

  // Posts a command after the fields the user typed.
  void Post(std::function<void(NodeScreenController&)> command, bool showWait = false);
  // What the fields show now, and the node range typed, for the range operations.
  ScreenFieldReader FieldReader() const;
  NodeRange Range() const;
  bool KeyOperationsAllowed() const;
  void ArrowKey(int key);  // Qt::Key_Left / Qt::Key_Right: previous / next node
  void ApplyField(int itemId, Side side);
  void ReceiveView(const NodeScreenView& view);  // worker thread
  void ShowLatestView();                         // GUI thread
  void Paint(const NodeScreenView& view);
  void PaintItem(const DisplayItem& item, const ItemScreen& screen, const NodeScreenView& view);
  void ShutDown();

  base::Prompt& prompt_;
  // Jobs of the range operations refer to it: it goes after the worker has been joined.
  std::unique_ptr<ScreenRangeOperations> ranges_;
  std::unique_ptr<NodeScreenController> controller_;
  std::unique_ptr<NodeScreenWorker> worker_;

  std::mutex latestMutex_;
  std::unique_ptr<NodeScreenView> latest_;  // newest view not yet painted
  bool paintQueued_ = false;
  NodeScreenView shown_;
  bool painted_ = false;
  PaintStats paintStats_;
  uint64_t fieldsSerialShown_ = 0;
  bool busyCursor_ = false;
  bool shutDown_ = false;

  std::array<ItemControls, kDisplayItemCount> items_{};
  QLineEdit* network_ = nullptr;
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  QPushButton* refresh_ = nullptr;
  QLabel* connection_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* error_ = nullptr;
  QLabel* reconnects_ = nullptr;
  QLabel* timeouts_ = nullptr;
  QLabel* cable_ = nullptr;
  std::array<IndicatorLamp*, 2> linkLamps_{};
  QWidget* linkRow_ = nullptr;
  QGroupBox* drives_ = nullptr;
  QGroupBox* zones_ = nullptr;
  QLabel* otherView_ = nullptr;
  QPushButton* diagnosticLog_ = nullptr;
  QPushButton* plcData_ = nullptr;
  std::function<void(const std::string&)> plcDataScreen_;
  QPushButton* setAllModule_ = nullptr;
  QPushButton* driveController_ = nullptr;
  QComboBox* zpaDta_ = nullptr;
  QLabel* debugFlags_ = nullptr;
  QPushButton* cancelRange_ = nullptr;
  QLabel* timeLeft_ = nullptr;
  std::vector<QWidget*> lockedWhileBusy_;  // commands that wait until a range has ended
  ModulePicture* picture_ = nullptr;
  QPointer<QDialog> advanced_;  // null once the window is gone
  ui::CTabDlg::Pages advancedPages_;
  Screens screens_;
  void Open(const std::function<void()>& screen) {
    if (screen) screen();
  }
};

// A round indicator lamp; repaints only when its colour changes.
class IndicatorLamp : public QWidget {
  Q_OBJECT
 public:
  explicit IndicatorLamp(QWidget* parent = nullptr);
  void SetState(bool lit, IndicatorColour colour);
  bool Lit() const { return lit_; }
  IndicatorColour Colour() const { return colour_; }
  int Repaints() const { return repaints_; }
  QSize sizeHint() const override { return QSize(16, 16); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool lit_ = false;
  bool known_ = false;
  IndicatorColour colour_ = IndicatorColour::Green;
  int repaints_ = 0;
};

}  // namespace params
