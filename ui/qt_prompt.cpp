#include "ui/qt_prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <memory>

namespace ui {

namespace {

QMessageBox::Icon ToQt(base::PromptIcon icon) {
  switch (icon) {
    case base::PromptIcon::Information:
      return QMessageBox::Information;
    case base::PromptIcon::Warning:
      return QMessageBox::Warning;
    case base::PromptIcon::Error:
      return QMessageBox::Critical;
    case base::PromptIcon::Question:
      return QMessageBox::Question;
    case base::PromptIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(base::PromptButtons buttons) {
  switch (buttons) {
    case base::PromptButtons::Ok:
      return QMessageBox::Ok;
    case base::PromptButtons::OkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case base::PromptButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case base::PromptButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case base::PromptButtons::RetryCancel:
      return QMessageBox::Retry | QMessageBox::Cancel;
    case base::PromptButtons::AbortRetryIgnore:
      return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
  }
  return QMessageBox::Ok;
}

QMessageBox::StandardButton ToQt(base::PromptAnswer answer) {
  switch (answer) {
    case base::PromptAnswer::Ok:
      return QMessageBox::Ok;
    case base::PromptAnswer::Cancel:
      return QMessageBox::Cancel;
    case base::PromptAnswer::Yes:
      return QMessageBox::Yes;
    case base::PromptAnswer::No:
      return QMessageBox::No;
    case base::PromptAnswer::Retry:
      return QMessageBox::Retry;
    case base::PromptAnswer::Abort:
      return QMessageBox::Abort;
    case base::PromptAnswer::Ignore:
      return QMessageBox::Ignore;
  }
  return QMessageBox::Ok;
}

base::PromptAnswer FromQt(int button, base::PromptButtons buttons) {
  switch (button) {
    case QMessageBox::Ok:
      return base::PromptAnswer::Ok;
    case QMessageBox::Cancel:
      return base::PromptAnswer::Cancel;
    case QMessageBox::Yes:
      return base::PromptAnswer::Yes;
    case QMessageBox::No:
      return base::PromptAnswer::No;
    case QMessageBox::Retry:
      return base::PromptAnswer::Retry;
    case QMessageBox::Abort:
      return base::PromptAnswer::Abort;
    case QMessageBox::Ignore:
      return base::PromptAnswer::Ignore;
    default:
      break;
  }
  // Closed without a button: what Escape means for that set.
  return base::EscapeAnswerOf(buttons);
}

}  // namespace

QtPrompt::QtPrompt(QObject* parent) : QObject(parent) {}

template <typename Result>
Result QtPrompt::OnGuiThread(std::function<Result()> work, Result fallback) {
  if (QThread::currentThread() == thread()) return work();

  // The worker waits for the GUI thread's answer, but can be let go at shutdown.
  struct Call {
    bool finished = false;
    Result result;
  };
  auto call = std::make_shared<Call>();
  call->result = fallback;
  {
    std::lock_guard guard(waitMutex_);
    if (released_) return fallback;
  }
  QMetaObject::invokeMethod(
      this,
      [this, call, work] {
        if (released_) return;
        Result result = work();
        std::lock_guard guard(waitMutex_);
        call->result = result;
        call->finished = true;
        waitDone_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(waitMutex_);
  ++waiting_;
  waitDone_.wait(lock, [&] { return call->finished || released_.load(); });
  --waiting_;
  return call->finished ? call->result : fallback;
}

void QtPrompt::ReleaseWaiters() {
  std::lock_guard guard(waitMutex_);
  released_ = true;
  waitDone_.notify_all();
}

base::PromptAnswer QtPrompt::AskHere(const std::string& text, const std::string& caption,
                                     base::PromptButtons buttons, base::PromptIcon icon) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  ToQt(buttons), parentWidget_.data());
  box.setDefaultButton(ToQt(base::FirstButtonOf(buttons)));
  const int pressed = box.exec();
  return FromQt(pressed, buttons);
}

base::PromptAnswer QtPrompt::Ask(const std::string& text, const std::string& caption,
                                 base::PromptButtons buttons, base::PromptIcon icon) {
  return OnGuiThread<base::PromptAnswer>(
      [=, this] { return AskHere(text, caption, buttons, icon); }, base::EscapeAnswerOf(buttons));
}

void QtPrompt::Beep() {
  if (QThread::currentThread() == thread()) {
    QApplication::beep();
  } else {
    QMetaObject::invokeMethod(
        this, [] { QApplication::beep(); }, Qt::QueuedConnection);
  }
}

int QtPrompt::ChooseAdapter(const std::vector<std::string>& entries) {
  return OnGuiThread<int>(
      [=, this] { return chooser_ ? chooser_(entries, parentWidget_.data()) : -1; }, -1);
}

}  // namespace ui
