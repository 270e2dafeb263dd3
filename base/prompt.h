#pragma once
// How the core asks and tells the user. The GUI implements it with dialogs, the CLI with the
// terminal, tests with ScriptedPrompt. The core never includes a toolkit and never blocks on
// a user except through this interface.
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace base {

enum class PromptIcon { None, Information, Warning, Error, Question };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class PromptAnswer { Ok, Cancel, Yes, No, Retry, Abort, Ignore };

class Prompt {
 public:
  virtual ~Prompt() = default;
  // A message box: text, caption, buttons and icon; returns the button pressed.
  virtual PromptAnswer Ask(const std::string& text, const std::string& caption,
                           PromptButtons buttons, PromptIcon icon) = 0;
  // A message box with an OK button only.
  void Tell(const std::string& text, const std::string& caption = "Quillmar",
            PromptIcon icon = PromptIcon::Information) {
    Ask(text, caption, PromptButtons::Ok, icon);
  }
  // The default beep.
  virtual void Beep() = 0;
  // The adapter chooser: entries as "%s - (%d Knoten)"; returns the chosen index, or -1 when
  // the user cancels.
  virtual int ChooseAdapter(const std::vector<std::string>& entries) = 0;
};

// A prompt that answers from a script and records everything it was shown. Thread-safe.
class ScriptedPrompt : public Prompt {
 public:
  struct Shown {
    std::string kind;  // "ask", "beep" or "choose"
    std::string text;
    std::string caption;
    PromptButtons buttons = PromptButtons::Ok;
    PromptIcon icon = PromptIcon::None;
    std::vector<std::string> entries;
  };

  // Answers used in order; when they run out, Ask answers the first button of its set
  // (Ok, Yes, Retry, Abort) and ChooseAdapter answers defaultChoice.
  void QueueAnswer(PromptAnswer answer);
  void QueueChoice(int index);
  void SetDefaultChoice(int index);

  PromptAnswer Ask(const std::string& text, const std::string& caption, PromptButtons buttons,
                   PromptIcon icon) override;
  void Beep() override;
  int ChooseAdapter(const std::vector<std::string>& entries) override;

  std::vector<Shown> History() const;
  std::vector<std::string> Texts() const;  // every text shown, in order
  size_t CountOf(const std::string& kind) const;

 private:
  mutable std::mutex mutex_;
  std::deque<PromptAnswer> answers_;
  std::deque<int> choices_;
  int defaultChoice_ = -1;
  std::vector<Shown> history_;
};

// A prompt for unattended use: answers every question with its first button, chooses
// nothing, and remembers nothing.
class SilentPrompt : public Prompt {
 public:
  PromptAnswer Ask(const std::string&, const std::string&, PromptButtons buttons,
                   PromptIcon) override;
  void Beep() override {}
  int ChooseAdapter(const std::vector<std::string>&) override { return -1; }
};

PromptAnswer FirstButtonOf(PromptButtons buttons);
// What closing the box with Escape answers: No, Cancel or Abort (OK for a box with OK only).
// A question nobody can answer any more (the program is ending) gets this answer, never a
// button that would go ahead.
PromptAnswer EscapeAnswerOf(PromptButtons buttons);

}  // namespace base
