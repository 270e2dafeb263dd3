#include "apps/quillmar-cli/terminal_prompt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using base::PromptAnswer;
using base::PromptButtons;
using base::PromptIcon;

// A prompt that reads `input` and writes into a buffer the test can read back.
class Terminal {
 public:
  Terminal(const std::string& input, bool interactive) : input_(input) {
    in_ = fmemopen(input_.data(), input_.size(), "r");
    if (input_.empty()) in_ = fopen("/dev/null", "r");
    out_ = tmpfile();
    prompt = std::make_unique<TerminalPrompt>(in_, out_, interactive);
  }
  ~Terminal() {
    prompt.reset();
    fclose(in_);
    fclose(out_);
  }
  std::string Shown() {
    fflush(out_);
    rewind(out_);
    std::string text;
    for (int c; (c = fgetc(out_)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  }
  std::unique_ptr<TerminalPrompt> prompt;

 private:
  std::string input_;
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
};

TEST(TerminalPrompt, InteractiveAnswersFromTheTerminal) {
  struct Case {
    std::string input;
    PromptButtons buttons;
    PromptAnswer answer;
  };
  const Case cases[] = {
      {"\n", PromptButtons::YesNo, PromptAnswer::Yes},  // empty: the first button
      {"n\n", PromptButtons::YesNo, PromptAnswer::No},
      {"nein\n", PromptButtons::YesNo, PromptAnswer::No},
      {"J\n", PromptButtons::YesNo, PromptAnswer::Yes},
      {"maybe\ncancel\n", PromptButtons::YesNoCancel, PromptAnswer::Cancel},  // asks again
      {"abbruch\n", PromptButtons::RetryCancel, PromptAnswer::Cancel},
      {" IGNORE \n", PromptButtons::AbortRetryIgnore, PromptAnswer::Ignore},
      {"", PromptButtons::OkCancel, PromptAnswer::Cancel},  // end of input: nobody answered
  };
  for (const Case& c : cases) {
    Terminal terminal(c.input, true);
    EXPECT_EQ(terminal.prompt->Ask("Weiter?", "Quillmar", c.buttons, PromptIcon::Question),
              c.answer)
        << c.input;
    EXPECT_EQ(terminal.Shown().rfind("[Quillmar] Weiter?\n", 0), 0u);
  }
}

TEST(TerminalPrompt, YesConsentsAndNoTerminalDeclines) {
  struct Case {
    bool interactive;
    bool yes;
    PromptButtons buttons;
    PromptAnswer answer;
  };
  const Case cases[] = {
      {true, true, PromptButtons::YesNo, PromptAnswer::Yes},  // --yes on a terminal
      {false, true, PromptButtons::OkCancel, PromptAnswer::Ok},
      {false, false, PromptButtons::YesNo, PromptAnswer::No},  // a script without --yes
      {false, false, PromptButtons::YesNoCancel, PromptAnswer::Cancel},
      {false, false, PromptButtons::AbortRetryIgnore, PromptAnswer::Abort},
      {false, false, PromptButtons::Ok, PromptAnswer::Ok},
  };
  for (const Case& c : cases) {
    Terminal terminal("n\n2\n", c.interactive);
    terminal.prompt->SetAssumeYes(c.yes);
    EXPECT_EQ(terminal.prompt->Ask("Sicher?", "Quillmar", c.buttons, PromptIcon::Question),
              c.answer)
        << c.interactive << c.yes;
    EXPECT_EQ(terminal.prompt->ChooseAdapter({"a - (1 Knoten)", "b - (2 Knoten)"}), -1);
    const std::string shown = terminal.Shown();
    EXPECT_NE(shown.find("  2) b - (2 Knoten)\n"), std::string::npos) << shown;
  }
}

TEST(TerminalPrompt, ChooserTakesALineNumberAndRefusesOthers) {
  struct Case {
    std::string input;
    int choice;
  };
  const Case cases[] = {{"2\n", 1}, {"0\n3\nx\n1\n", 0}, {"\n", -1}, {"", -1}};
  for (const Case& c : cases) {
    Terminal terminal(c.input, true);
    EXPECT_EQ(terminal.prompt->ChooseAdapter({"a - (1 Knoten)", "b - (2 Knoten)"}), c.choice)
        << c.input;
  }
}

}  // namespace

namespace {

// --yes consents with Yes or OK and never picks a retry loop or an ignored error.
TEST(TerminalPrompt, YesAnswersYesOrOkAndOtherwiseStops) {
  const struct {
    PromptButtons buttons;
    PromptAnswer answer;
    const char* shown;
  } cases[] = {
      {PromptButtons::Ok, PromptAnswer::Ok, "(ok) -> ok\n"},
      {PromptButtons::OkCancel, PromptAnswer::Ok, "(ok/cancel) -> ok\n"},
      {PromptButtons::YesNo, PromptAnswer::Yes, "(yes/no) -> yes\n"},
      {PromptButtons::YesNoCancel, PromptAnswer::Yes, "(yes/no/cancel) -> yes\n"},
      {PromptButtons::RetryCancel, PromptAnswer::Cancel, "(retry/cancel) -> cancel\n"},
      {PromptButtons::AbortRetryIgnore, PromptAnswer::Abort, "(abort/retry/ignore) -> abort\n"},
  };
  for (const auto& c : cases) {
    for (bool interactive : {false, true}) {
      Terminal terminal("retry\n", interactive);
      terminal.prompt->SetAssumeYes(true);
      EXPECT_EQ(terminal.prompt->Ask("Weiter?", "Quillmar", c.buttons, PromptIcon::Question),
                c.answer);
      EXPECT_EQ(terminal.Shown(), std::string("[Quillmar] Weiter?\n") + c.shown);
    }
  }
}

}  // namespace
