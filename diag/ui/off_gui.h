#pragma once
// Module traffic of the diagnostic windows runs off the GUI thread: the work runs on a thread
// of its own, and its result comes back to the GUI thread, where it is handed to the window only
// while the window still exists (a window closed during a read just drops the result).
#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

namespace diag {

template <typename Result>
void RunOffGui(QObject* owner, std::function<Result()> work, std::function<void(Result)> done) {
  auto guard = std::make_shared<QPointer<QObject>>(owner);
  std::thread([work = std::move(work), done = std::move(done), guard]() mutable {
    Result result = work();
    // The program may be ending: without an application there is nobody to tell.
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app,
        [done = std::move(done), guard, result = std::move(result)]() mutable {
          if (*guard) done(std::move(result));
        },
        Qt::QueuedConnection);
  }).detach();
}

// Hands a result made on another thread (the node screen's worker) to `owner` on the GUI
// thread, while it exists. `guard` must have been made on the GUI thread.
template <typename Result>
void DeliverToGui(std::shared_ptr<QPointer<QObject>> guard, Result result,
                  std::function<void(Result)> done) {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [done = std::move(done), guard = std::move(guard), result = std::move(result)]() mutable {
        if (*guard) done(std::move(result));
      },
      Qt::QueuedConnection);
}

}  // namespace diag
