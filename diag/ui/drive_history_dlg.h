#pragma once
// `UxMtrHistory` ("Antriebs Historie"): the drives a module has had, from its service text
// port's answer to "7". Read when the window opens and on "Einlesen", off the GUI thread.
#include <QDialog>
#include <functional>
#include <optional>
#include <string>

class QTreeWidget;

namespace diag {

class UxMtrHistory : public QDialog {
  Q_OBJECT
 public:
  // `address` names the module, as the node screen shows it at the moment of reading.
  explicit UxMtrHistory(std::function<std::string()> address, QWidget* parent = nullptr);

  void Read();
  QTreeWidget* List() const { return list_; }
  uint64_t ReadsShown() const { return readsShown_; }

 signals:
  void historyShown();

 private:
  void Show(const std::optional<std::string>& answer);

  std::function<std::string()> address_;
  QTreeWidget* list_ = nullptr;
  bool reading_ = false;
  uint64_t readsShown_ = 0;
};

}  // namespace diag
