// The Qt prompt: questions from worker threads are shown on the GUI thread, and shutdown can
// let a waiting worker go.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <thread>

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

  void releasedWaitersGetTheFirstButtonWithoutAGui() {
    ui::QtPrompt prompt;
    std::atomic<int> answer{-1};
    std::atomic<bool> started{false};
    // The GUI thread does not process events here, as when it is joining workers at shutdown.
    std::thread worker([&] {
      started = true;
      answer = int(
          prompt.Ask("x", "Quillmar", base::PromptButtons::RetryCancel, base::PromptIcon::Warning));
    });
    while (!started) std::this_thread::yield();
    prompt.ReleaseWaiters();
    worker.join();
    QCOMPARE(answer.load(), int(base::PromptAnswer::Retry));
    // Later calls from workers do not wait at all.
    int choice = 5;
    std::thread([&] { choice = prompt.ChooseAdapter({"a"}); }).join();
    QCOMPARE(choice, -1);
    QCoreApplication::processEvents();  // the stale queued call shows nothing
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }
};

QTEST_MAIN(QtPromptTest)
#include "qt_prompt_test.moc"
