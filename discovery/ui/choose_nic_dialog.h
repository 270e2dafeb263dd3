#pragma once
// The adapter chooser that a discovery shows when several adapters carry nodes.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

class CDlg_ChooseNIC : public QDialog {
  Q_OBJECT

 public:
  explicit CDlg_ChooseNIC(QWidget* parent = nullptr);

  // One line per listed adapter ("%s - (%d Knoten)"), in the order the caller numbers them.
  void SetEntries(const std::vector<std::string>& entries);
  // Index of the chosen line after OK; -1 until a line is chosen.
  int chosenIndex() const { return chosenIndex_; }

  QListWidget* list() const { return list_; }
  QLabel* label() const { return label_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }
  // The default beep; tests count it instead.
  std::function<void()> beep;

 private:
  void OnSelectionChanged();
  void OnDoubleClicked();
  void OnOk();
  int SelectedRow() const;

  QListWidget* list_;
  QLabel* label_;
  QPushButton* ok_;
  QPushButton* cancel_;
  int chosenIndex_ = -1;
};

// Shows the chooser modally; returns the chosen index, or -1 on Cancel.
int ChooseAdapterWithDialog(const std::vector<std::string>& entries, QWidget* parent);
