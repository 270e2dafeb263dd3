#include "base/prompt.h"

namespace base {

PromptAnswer EscapeAnswerOf(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::Ok:
      return PromptAnswer::Ok;
    case PromptButtons::YesNo:
      return PromptAnswer::No;
    case PromptButtons::AbortRetryIgnore:
      return PromptAnswer::Abort;
    case PromptButtons::OkCancel:
    case PromptButtons::YesNoCancel:
    case PromptButtons::RetryCancel:
      return PromptAnswer::Cancel;
  }
  return PromptAnswer::Cancel;
}

PromptAnswer FirstButtonOf(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::Ok:
    case PromptButtons::OkCancel:
      return PromptAnswer::Ok;
    case PromptButtons::YesNo:
    case PromptButtons::YesNoCancel:
      return PromptAnswer::Yes;
    case PromptButtons::RetryCancel:
      return PromptAnswer::Retry;
    case PromptButtons::AbortRetryIgnore:
      return PromptAnswer::Abort;
  }
  return PromptAnswer::Ok;
}

void ScriptedPrompt::QueueAnswer(PromptAnswer answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

void ScriptedPrompt::QueueChoice(int index) {
  std::lock_guard lock(mutex_);
  choices_.push_back(index);
}

void ScriptedPrompt::SetDefaultChoice(int index) {
  std::lock_guard lock(mutex_);
  defaultChoice_ = index;
}

PromptAnswer ScriptedPrompt::Ask(const std::string& text, const std::string& caption,
                                 PromptButtons buttons, PromptIcon icon) {
  std::lock_guard lock(mutex_);
  history_.push_back({"ask", text, caption, buttons, icon, {}});
  if (answers_.empty()) return FirstButtonOf(buttons);
  const PromptAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void ScriptedPrompt::Beep() {
  std::lock_guard lock(mutex_);
  history_.push_back({"beep", "", "", PromptButtons::Ok, PromptIcon::None, {}});
}

int ScriptedPrompt::ChooseAdapter(const std::vector<std::string>& entries) {
  std::lock_guard lock(mutex_);
  history_.push_back({"choose", "", "", PromptButtons::OkCancel, PromptIcon::None, entries});
  if (choices_.empty()) return defaultChoice_;
  const int choice = choices_.front();
  choices_.pop_front();
  return choice;
}

std::vector<ScriptedPrompt::Shown> ScriptedPrompt::History() const {
  std::lock_guard lock(mutex_);
  return history_;
}

std::vector<std::string> ScriptedPrompt::Texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const auto& shown : history_) {
    if (shown.kind == "choose") {
      for (const auto& entry : shown.entries) texts.push_back(entry);
    } else if (shown.kind == "ask") {
      texts.push_back(shown.text);
    }
  }
  return texts;
}

size_t ScriptedPrompt::CountOf(const std::string& kind) const {
  std::lock_guard lock(mutex_);
  size_t count = 0;
  for (const auto& shown : history_) count += shown.kind == kind;
  return count;
}

PromptAnswer SilentPrompt::Ask(const std::string&, const std::string&, PromptButtons buttons,
                               PromptIcon) {
  return FirstButtonOf(buttons);
}

}  // namespace base
