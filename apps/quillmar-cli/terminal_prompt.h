#pragma once
// The core's Prompt on a terminal: questions and the adapter chooser are written to stderr and,
// when stdin is a terminal and --yes was not given, answered from stdin. Otherwise a question
// is answered with its first button and the chooser with -1 (no adapter).
#include <cstdio>
#include <mutex>

#include "base/prompt.h"

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
