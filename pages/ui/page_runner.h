#pragma once
// How the advanced pages keep their module traffic off the GUI thread: work runs on the node
// screen's worker (after the node screen's own pass, never beside it), or on the page's own
// worker when the window has none; its result comes back to the page as a queued call, and
// is dropped when the page has gone meanwhile.
#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "base/language.h"
#include "base/prompt.h"
#include "base/serial_worker.h"
#include "ui/qt_prompt.h"

namespace pages {

class PageRunner {
 public:
  PageRunner(QWidget* page, base::SerialWorker* worker) : page_(page), worker_(worker) {
    if (!worker_) {
      own_ = std::make_unique<base::SerialWorker>(base::SerialWorker::Cycle{},
                                                  base::SerialWorker::Hooks{}, 1000);
      worker_ = own_.get();
    }
  }
  ~PageRunner() {
    if (own_) own_->Stop();
  }

  // work() runs on the worker; done(result) on the GUI thread while the page lives. The page
  // shows the wait cursor and Busy() holds until done.
  template <typename Work, typename Done>
  void Run(Work work, Done done) {
    ++*pending_;
    page_->setCursor(Qt::WaitCursor);
    QPointer<QWidget> page = page_;
    auto pending = pending_;
    worker_->Post([page, pending, work = std::move(work), done = std::move(done)]() mutable {
      auto result = work();
      QMetaObject::invokeMethod(
          qApp,
          [page, pending, done = std::move(done), result = std::move(result)]() mutable {
            --*pending;
            if (!page) return;
            if (*pending == 0) page->unsetCursor();
            done(result);
          },
          Qt::QueuedConnection);
    });
  }

  // A view reported from the worker while work goes on, shown on the GUI thread.
  template <typename View>
  std::function<void(const View&)> Reporter(std::function<void(const View&)> show) {
    QPointer<QWidget> page = page_;
    return [page, show = std::move(show)](const View& view) {
      QMetaObject::invokeMethod(
          qApp,
          [page, show, view] {
            if (page) show(view);
          },
          Qt::QueuedConnection);
    };
  }

  bool Busy() const { return *pending_ > 0; }
  // For tests: waits until the worker has nothing left (never called by the pages).
  void WaitIdle() { worker_->WaitIdle(); }

 private:
  QWidget* page_;
  base::SerialWorker* worker_;
  std::unique_ptr<base::SerialWorker> own_;
  // Counted on the GUI thread only; shared so that a late result finds it after the page.
  std::shared_ptr<std::atomic<int>> pending_ = std::make_shared<std::atomic<int>>(0);
};

// How a page tells the user an outcome: through the window's prompt, or, when the page was
// given none, through a prompt of its own over the page.
class PagePrompt {
 public:
  PagePrompt(QWidget* page, base::Prompt* given) : prompt_(given) {
    if (!prompt_) {
      own_ = std::make_unique<ui::QtPrompt>();
      own_->SetParentWidget(page);
      prompt_ = own_.get();
    }
  }
  // On the GUI thread, once an operation has ended (never from a worker).
  void TellFailure(const std::string& text, const std::string& caption) {
    prompt_->Tell(text, caption, base::PromptIcon::Error);
  }

 private:
  std::unique_ptr<ui::QtPrompt> own_;
  base::Prompt* prompt_;
};

// "<b>caption</b><br>help" for a control's tool tip.
inline QString CaptionTip(const QString& caption, const QString& help = QString()) {
  QString tip = QStringLiteral("<b>%1</b>").arg(caption.toHtmlEscaped());
  if (!help.isEmpty()) tip += QStringLiteral("<br>") + help.toHtmlEscaped();
  return tip;
}
// The same for the pages' table texts (marked in the "PageTips" context), shown translated.
inline QString CaptionTip(const char* caption, const char* help = nullptr) {
  return CaptionTip(QString::fromUtf8(base::Translate("PageTips", caption)),
                    help ? QString::fromUtf8(base::Translate("PageTips", help)) : QString());
}

}  // namespace pages
