#pragma once
// The core's Prompt on a terminal: questions and the adapter chooser are written to stderr and,
// when stdin is a terminal and --yes was not given, answered from stdin. With --yes a question
// is answered by AnswerForYes; without a terminal, with its first button. The chooser without a
// terminal, or with --yes, answers -1 (no adapter): the command's ChoosingPrompt decides by the
// target before it gets here.
#include <cstdio>
#include <mutex>

#include "base/prompt.h"

// What --yes answers: Yes or OK; Cancel for Retry/Cancel and Abort for Abort/Retry/Ignore.
base::PromptAnswer AnswerForYes(base::PromptButtons buttons);

class TerminalPrompt : public base::Prompt {
 public:
  TerminalPrompt();  // interactive when stdin is a terminal
  TerminalPrompt(std::FILE* in, std::FILE* out, bool interactive);

  void SetAssumeYes(bool assumeYes) { assumeYes_ = assumeYes; }

  base::PromptAnswer Ask(const std::string& text, const std::string& caption,
                         base::PromptButtons buttons, base::PromptIcon icon) override;
  void Beep() override;
  int ChooseAdapter(const std::vector<std::string>& entries) override;

 private:
  bool Interactive() const { return interactive_ && !assumeYes_; }
  bool ReadLine(std::string* line);

  std::FILE* in_;
  std::FILE* out_;
  bool interactive_;
  bool assumeYes_ = false;
  std::mutex mutex_;  // one question at a time
};
