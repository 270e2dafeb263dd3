#include "terminal_prompt.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct ButtonName {
  base::PromptAnswer answer;
  const char* word;
};

std::vector<ButtonName> ButtonsOf(base::PromptButtons buttons) {
  using A = base::PromptAnswer;
  switch (buttons) {
    case base::PromptButtons::Ok:
      return {{A::Ok, "ok"}};
    case base::PromptButtons::OkCancel:
      return {{A::Ok, "ok"}, {A::Cancel, "cancel"}};
    case base::PromptButtons::YesNo:
      return {{A::Yes, "yes"}, {A::No, "no"}};
    case base::PromptButtons::YesNoCancel:
      return {{A::Yes, "yes"}, {A::No, "no"}, {A::Cancel, "cancel"}};
    case base::PromptButtons::RetryCancel:
      return {{A::Retry, "retry"}, {A::Cancel, "cancel"}};
    case base::PromptButtons::AbortRetryIgnore:
      return {{A::Abort, "abort"}, {A::Retry, "retry"}, {A::Ignore, "ignore"}};
  }
  return {{A::Ok, "ok"}};
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

}  // namespace

base::PromptAnswer AnswerForYes(base::PromptButtons buttons) {
  using A = base::PromptAnswer;
  switch (buttons) {
    case base::PromptButtons::Ok:
    case base::PromptButtons::OkCancel:
      return A::Ok;
    case base::PromptButtons::YesNo:
    case base::PromptButtons::YesNoCancel:
      return A::Yes;
    case base::PromptButtons::RetryCancel:
      return A::Cancel;
    case base::PromptButtons::AbortRetryIgnore:
      return A::Abort;
  }
  return A::Ok;
}

TerminalPrompt::TerminalPrompt() : TerminalPrompt(stdin, stderr, ::isatty(STDIN_FILENO) != 0) {}

TerminalPrompt::TerminalPrompt(std::FILE* in, std::FILE* out, bool interactive)
    : in_(in), out_(out), interactive_(interactive) {}

bool TerminalPrompt::ReadLine(std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(in_)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  return c != EOF || !line->empty();
}

base::PromptAnswer TerminalPrompt::Ask(const std::string& text, const std::string& caption,
                                       base::PromptButtons buttons, base::PromptIcon) {
  std::lock_guard guard(mutex_);
  const auto names = ButtonsOf(buttons);
  std::fprintf(out_, "[%s] %s\n", caption.c_str(), text.c_str());
  std::string choices;
  for (const auto& name : names) {
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on "x" + std::string here.
    if (!choices.empty()) choices += '/';
    choices += name.word;
  }
  if (assumeYes_) {
    // --yes consents: Yes or OK. A question with neither (Retry/Cancel, Abort/Retry/Ignore)
    // gets the answer that stops, never a retry loop or an ignored error.
    const base::PromptAnswer answer = AnswerForYes(buttons);
    for (const auto& name : names) {
      if (name.answer == answer) std::fprintf(out_, "(%s) -> %s\n", choices.c_str(), name.word);
    }
    return answer;
  }
  // Nobody at a terminal, and no --yes: the question is declined (No, Cancel, Abort), never
  // taken as consent; a box with OK only just tells.
  const base::PromptAnswer declined = base::EscapeAnswerOf(buttons);
  const char* declinedWord = names.front().word;
  for (const auto& name : names) {
    if (name.answer == declined) declinedWord = name.word;
  }
  if (!Interactive()) {
    std::fprintf(out_, "(%s) -> %s%s\n", choices.c_str(), declinedWord,
                 declined == base::PromptAnswer::Ok ? "" : " (--yes answers yes)");
    return declined;
  }
  for (;;) {
    std::fprintf(out_, "(%s) [%s]: ", choices.c_str(), names.front().word);
    std::fflush(out_);
    std::string line;
    if (!ReadLine(&line)) return declined;  // the terminal closed: nobody answered
    const std::string word = Lower(line);
    if (word.empty()) return names.front().answer;
    for (const auto& name : names) {
      if (std::string(name.word).rfind(word, 0) == 0) return name.answer;
      // German answers too: "ja", "nein", "abbruch".
      if ((word == "j" || word == "ja") && name.answer == base::PromptAnswer::Yes)
        return name.answer;
      if (word == "nein" && name.answer == base::PromptAnswer::No) return name.answer;
      if (word == "abbruch" && name.answer == base::PromptAnswer::Cancel) return name.answer;
    }
  }
}

void TerminalPrompt::Beep() {
  std::lock_guard guard(mutex_);
  if (::isatty(::fileno(out_))) {
    std::fputc('\a', out_);
    std::fflush(out_);
  }
}

int TerminalPrompt::ChooseAdapter(const std::vector<std::string>& entries) {
  std::lock_guard guard(mutex_);
  std::fprintf(out_, "Bitte auswählen welcher Netzwerkadapter benutzt werden soll\n");
  std::fprintf(out_, "Verfügbare Knoten an diesen Adaptern:\n");
  for (size_t i = 0; i < entries.size(); ++i) {
    std::fprintf(out_, "  %zu) %s\n", i + 1, entries[i].c_str());
  }
  if (!Interactive()) {
    std::fprintf(out_, "-> Abbruch\n");
    return -1;
  }
  for (;;) {
    std::fprintf(out_, "1..%zu, empty = Abbruch: ", entries.size());
    std::fflush(out_);
    std::string line;
    if (!ReadLine(&line)) return -1;
    const std::string word = Lower(line);
    if (word.empty()) return -1;
    char* end = nullptr;
    const long number = std::strtol(word.c_str(), &end, 10);
    if (end && *end == '\0' && number >= 1 && number <= static_cast<long>(entries.size())) {
      return static_cast<int>(number - 1);
    }
    std::fputc('\a', out_);  // not a line of the list: ask again, as OK without selection
  }
}
