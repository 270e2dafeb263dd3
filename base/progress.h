#pragma once
// Progress of long work, and the user's wish to cancel it. The core reports through Progress;
// the GUI shows a wait dialog or bar, the CLI a line on stderr, tests record.
#include <atomic>
#include <string>

namespace base {

// Set from any thread; long work polls it between steps.
class CancelToken {
 public:
  void Cancel() { cancelled_.store(true); }
  void Reset() { cancelled_.store(false); }
  bool IsCancelled() const { return cancelled_.load(); }

 private:
  std::atomic<bool> cancelled_{false};
};

class Progress {
 public:
  virtual ~Progress() = default;
  virtual void SetRange(int total) { (void)total; }
  virtual void SetPosition(int done) { (void)done; }
  virtual void SetText(const std::string& text) { (void)text; }
  bool Cancelled() const { return cancel_.IsCancelled(); }
  CancelToken& Cancel() { return cancel_; }

 private:
  CancelToken cancel_;
};

// Reports nothing; can still be cancelled.
class NullProgress : public Progress {};

}  // namespace base
