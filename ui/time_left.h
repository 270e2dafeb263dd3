#pragma once
// A progress bar that shows the time its work still needs once it can be estimated
// ("42% - noch 0:42"). The bar's owner keeps setting its range and value as before.
#include <cstdint>
#include <functional>

class QProgressBar;

namespace ui {

// From now on `bar` shows the time left; the clock starts again whenever the bar's value goes
// back to its minimum or its range changes. `nowMs`: a monotonic clock in milliseconds (a seam
// for tests; default: the steady clock).
void ShowTimeLeft(QProgressBar* bar, std::function<uint64_t()> nowMs = {});

}  // namespace ui
