#pragma once
// "Netzwerk Einstellungen": the discovered-modules page of the advanced window. Lists the
// modules of the selected adapter with a subnet filter and the count line, changes a module's
// address, mask, gateway or serial, renumbers networks, locks and unlocks them, resets names
// and addresses, turns DHCP off, and starts backup, restore, upgrade and the topology window
// through hooks the program installs. Module traffic runs on a worker: the page stays live
// with its progress bar, STOP and the per-module states.
#include <QWidget>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/prompt.h"
#include "discovery/inventory.h"

class CMRegApp;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace backup {

class CUDPServerDlg : public QWidget {
  Q_OBJECT
 public:
  using ModulesHook = std::function<void(const std::vector<std::string>& ips)>;
  struct Hooks {
    ModulesHook backup;          // "Backup"
    ModulesHook restore;         // "Restore" / "Wiederherstellen" (by IP text)
    ModulesHook restoreByIp;     // "Restore by IP"
    ModulesHook upgrade;         // "Upgrade Fw", after the page's checks
    std::function<void()> tree;  // "Brevantrix Tree"
  };

  CUDPServerDlg(CMRegApp& app, base::Prompt& prompt, QWidget* parent = nullptr);
  ~CUDPServerDlg() override;  // stops and joins a running operation

  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

  // "Suchen": a discovery on the worker, then the list is filled again.
  void Discover();
  bool Busy() const { return busy_.load(); }
  // The list as shown, the filter's entries and the count line.
  QStringList ListLines() const;
  QStringList SubnetEntries() const;
  QString CountText() const;
  void ShowSubnet(const QString& entry);
  void SelectAll(bool all);
  std::vector<std::string> SelectedIps() const;

 signals:
  void operationFinished();

 private slots:
  void Fill();
  void ShowCurrent();
  void SetSettings();
  void Reorder();
  void Lock(bool lock);
  void ResetNames();
  void DhcpOff();
  void Upgrade();

 private:
  // Runs `work` on the worker while the page shows progress; refused while one runs.
  bool RunOperation(const QString& what, std::function<void()> work);
  void AddState(const QString& text);     // any thread
  void SetProgress(int done, int total);  // any thread
  NodeList SelectedNodes() const;
  std::string SelectedNetwork() const;

  CMRegApp& app_;
  base::Prompt& prompt_;
  Hooks hooks_;
  NodeList nodes_;  // copies of the adapter's nodes, list order
  std::thread worker_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> stop_{false};

  QListWidget* list_ = nullptr;
  QComboBox* subnet_ = nullptr;
  QLabel* count_ = nullptr;
  QLabel* position_ = nullptr;
  QLineEdit* serial_ = nullptr;
  QLineEdit* ip_ = nullptr;
  QLineEdit* mask_ = nullptr;
  QLineEdit* gateway_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QListWidget* states_ = nullptr;
  std::vector<QPushButton*> actions_;
};

}  // namespace backup
