#pragma once
// "Erweiterte Funktionen": the advanced functions window opened from the node screen (button,
// F2 or Ctrl+Shift+U). Its tab control hosts nine pages in a fixed order; the program hands the
// window a factory per page, and a page without one shows a plain placeholder.
#include <QDialog>
#include <array>
#include <functional>
#include <string>

class QDialogButtonBox;
class QPushButton;
class QTabWidget;

namespace base {
class Prompt;
class SerialWorker;
}  // namespace base

namespace ui {

// What a page takes from the window: the current network and node range, and the node
// screen's worker, on which the pages' register traffic runs.
struct AdvancedPageContext {
  std::string networkAddress;  // "a.b.c.d"
  int fromNode = 1;
  int toNode = 0;  // 0 = empty field
  base::SerialWorker* worker = nullptr;
  // How the pages tell the user an outcome (the program's prompt); none: a page shows its own
  // message boxes.
  base::Prompt* prompt = nullptr;
};

class CTabDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kPageCount = 9;
  // Tab texts in order; "&&" shows as one "&".
  static const std::array<const char*, kPageCount>& PageTitles();

  using PageFactory = std::function<QWidget*(const AdvancedPageContext&, QWidget* parent)>;
  // The factory of each tab, by index (0..8); an empty one gives the placeholder.
  using Pages = std::array<PageFactory, kPageCount>;

  CTabDlg(const AdvancedPageContext& context, const Pages& pages, QWidget* parent = nullptr);

  QTabWidget* Tabs() const { return tabs_; }
  // A button beside Close for a window of the program's (the hand-over report).
  QPushButton* AddAction(const QString& text, const QString& name, std::function<void()> action);
  const AdvancedPageContext& Context() const { return context_; }

 private:
  AdvancedPageContext context_;
  QTabWidget* tabs_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};

}  // namespace ui
