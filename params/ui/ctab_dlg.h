#pragma once
// "Erweiterte Funktionen": the advanced functions window opened from the node screen (button,
// F2 or Ctrl+Shift+U). Its tab control hosts nine pages in a fixed order; a page that is not
// built yet shows a plain placeholder. Later pages register a factory for their index.
#include <QDialog>
#include <array>
#include <functional>
#include <string>

class QTabWidget;

namespace params {

class NodeScreenWorker;

// What a page takes from the window: the current network and node range, and the node
// screen's worker, on which the pages' register traffic runs.
struct AdvancedPageContext {
  std::string networkAddress;  // "a.b.c.d"
  int fromNode = 1;
  int toNode = 0;  // 0 = empty field
  NodeScreenWorker* worker = nullptr;
};

class CTabDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kPageCount = 9;
  // Tab texts in order; "&&" shows as one "&".
  static const std::array<const char*, kPageCount>& PageTitles();

  using PageFactory = std::function<QWidget*(const AdvancedPageContext&, QWidget* parent)>;
  // Registers the page for tab `index` (0..8) for every window opened afterwards.
  static void RegisterPage(int index, PageFactory factory);

  explicit CTabDlg(const AdvancedPageContext& context, QWidget* parent = nullptr);

  QTabWidget* Tabs() const { return tabs_; }
  const AdvancedPageContext& Context() const { return context_; }

 private:
  AdvancedPageContext context_;
  QTabWidget* tabs_ = nullptr;
};

}  // namespace params
