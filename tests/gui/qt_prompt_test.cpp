// The Qt prompt: questions from worker threads are shown on the GUI thread, and shutdown can
// let a waiting worker go.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <thread>

#include "gui/runner/gui_tests.h"
#include "ui/qt_prompt.h"

class QtPromptTest : public QObject {
  Q_OBJECT

 private slots:
  void chooserFromAWorkerRunsOnTheGuiThread() {
    ui::QtPrompt prompt;
    QThread* chooserThread = nullptr;
    std::vector<std::string> seen;
    prompt.SetAdapterChooser([&](const std::vector<std::string>& entries, QWidget*) {
      chooserThread = QThread::currentThread();
      seen = entries;
      return 1;
    });
    std::atomic<int> answer{-2};
    std::thread worker([&] {
      answer = prompt.ChooseAdapter({"a - (1 Knoten)", "b - (2 Knoten)"});
    });
    QTRY_COMPARE(answer.load(), 1);
    worker.join();
    QCOMPARE(chooserThread, QThread::currentThread());
    QCOMPARE(seen.size(), size_t(2));
  }

  void messageBoxAnswerComesBackToTheWorker() {
    ui::QtPrompt prompt;
    QString shownText, shownTitle;
    // Answer the box with "No" as soon as it is up.
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        shownText = box->text();
        shownTitle = box->windowTitle();
        box->button(QMessageBox::No)->click();
      }
    });
    poll.start(5);
    std::atomic<int> answer{-1};
    std::thread worker([&] {
      answer = int(prompt.Ask("Wirklich?", "Quillmar", base::PromptButtons::YesNo,
                              base::PromptIcon::Question));
    });
    QTRY_COMPARE(answer.load(), int(base::PromptAnswer::No));
    worker.join();
    QCOMPARE(shownText, QStringLiteral("Wirklich?"));
    QCOMPARE(shownTitle, QStringLiteral("Quillmar"));
  }

  // At shutdown nobody can answer any more: a released question answers what Escape means,
  // never the button that would go ahead (Yes to "Clear and Save all …?").
  void releasedWaitersGetTheEscapeAnswerWithoutAGui() {
    using base::PromptAnswer;
    using base::PromptButtons;
    const std::pair<PromptButtons, PromptAnswer> cases[] = {
        {PromptButtons::YesNo, PromptAnswer::No},
        {PromptButtons::YesNoCancel, PromptAnswer::Cancel},
        {PromptButtons::OkCancel, PromptAnswer::Cancel},
        {PromptButtons::RetryCancel, PromptAnswer::Cancel},
        {PromptButtons::AbortRetryIgnore, PromptAnswer::Abort},
        {PromptButtons::Ok, PromptAnswer::Ok},
    };
    for (const auto& [buttons, expected] : cases) {
      ui::QtPrompt prompt;
      std::atomic<int> answer{-1};
      // The GUI thread does not process events here, as when it is joining workers at shutdown.
      std::thread worker([&, buttons = buttons] {
        answer = int(prompt.Ask("x", "Quillmar", buttons, base::PromptIcon::Warning));
      });
      // Released only once the worker really waits, so that the wake-up path is what runs.
      while (prompt.Waiting() == 0) std::this_thread::yield();
      prompt.ReleaseWaiters();
      worker.join();
      QCOMPARE(answer.load(), int(expected));
      // Later calls from workers do not wait at all.
      int later = -1;
      std::thread([&] {
        later = int(prompt.Ask("y", "Quillmar", PromptButtons::YesNo, base::PromptIcon::Question));
      }).join();
      QCOMPARE(later, int(PromptAnswer::No));
      int choice = 5;
      std::thread([&] { choice = prompt.ChooseAdapter({"a"}); }).join();
      QCOMPARE(choice, -1);
      QCoreApplication::processEvents();  // the stale queued call shows nothing
      QVERIFY(QApplication::activeModalWidget() == nullptr);
    }
  }
};

const test::GuiTest kQtPromptTestRegistered("qt_prompt_test",
                                            test::RunQtTestObject<QApplication, QtPromptTest>);
#include "qt_prompt_test.moc"
