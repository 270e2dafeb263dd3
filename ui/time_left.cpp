#include "ui/time_left.h"

#include <QCoreApplication>
#include <QObject>
#include <QProgressBar>
#include <utility>

#include "base/remaining_time.h"

namespace ui {
namespace {

// Lives as the bar's child, so that it goes with the bar.
class TimeLeftWatcher : public QObject {
 public:
  TimeLeftWatcher(QProgressBar* bar, std::function<uint64_t()> nowMs)
      : QObject(bar), bar_(bar), remaining_(std::move(nowMs)) {
    QObject::connect(bar, &QProgressBar::valueChanged, this, [this](int) { Update(); });
  }

 private:
  void Update() {
    const int minimum = bar_->minimum();
    const int maximum = bar_->maximum();
    if (minimum != minimum_ || maximum != maximum_ || bar_->value() <= minimum) {
      minimum_ = minimum;
      maximum_ = maximum;
      remaining_.Restart();
    }
    const std::optional<uint32_t> left =
        remaining_.SecondsLeft(bar_->value() - minimum, maximum - minimum);
    bar_->setFormat(left ? QCoreApplication::translate("ui::TimeLeft", "%p% - noch %1")

                               .arg(QString::fromStdString(base::RemainingTime::Text(*left)))
                         : QStringLiteral("%p%"));
  }

  QProgressBar* bar_;
  base::RemainingTime remaining_;
  int minimum_ = 0;
  int maximum_ = 0;
};

}  // namespace

void ShowTimeLeft(QProgressBar* bar, std::function<uint64_t()> nowMs) {
  if (bar) new TimeLeftWatcher(bar, std::move(nowMs));
}

}  // namespace ui
