#pragma once
// The core's Prompt shown with Qt dialogs. Create it on the GUI thread. Calls from a worker
// thread are carried over to the GUI thread and the worker waits for the answer; once
// ReleaseWaiters() has been called (at shutdown, before workers are joined) such calls answer
// at once with what Escape means for their buttons (No, Cancel, Abort; the chooser -1) instead
// of waiting on a GUI that may itself be waiting for the worker: a question nobody answered
// never goes ahead.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/prompt.h"

namespace ui {

class QtPrompt : public QObject, public base::Prompt {
  Q_OBJECT

 public:
  using Chooser = std::function<int(const std::vector<std::string>& entries, QWidget* parent)>;

  explicit QtPrompt(QObject* parent = nullptr);

  // Parent window of the dialogs (may be null).
  void SetParentWidget(QWidget* widget) { parentWidget_ = widget; }
  // The adapter chooser dialog (the app installs CDlg_ChooseNIC); without one the chooser
  // answers -1.
  void SetAdapterChooser(Chooser chooser) { chooser_ = std::move(chooser); }
  void ReleaseWaiters();
  // Worker threads waiting for an answer now (for tests).
  int Waiting() const { return waiting_.load(); }

  base::PromptAnswer Ask(const std::string& text, const std::string& caption,
                         base::PromptButtons buttons, base::PromptIcon icon) override;
  void Beep() override;
  int ChooseAdapter(const std::vector<std::string>& entries) override;

 private:
  // Runs `work` on the GUI thread and returns its result; `fallback` when released.
  template <typename Result>
  Result OnGuiThread(std::function<Result()> work, Result fallback);

  base::PromptAnswer AskHere(const std::string& text, const std::string& caption,
                             base::PromptButtons buttons, base::PromptIcon icon);

  QPointer<QWidget> parentWidget_;
  Chooser chooser_;
  std::atomic<bool> released_{false};
  std::atomic<int> waiting_{0};
  std::mutex waitMutex_;
  std::condition_variable waitDone_;
};

}  // namespace ui
