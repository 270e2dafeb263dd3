#pragma once
// What every quillmar-cli command shares: the exit status table, the module target, the
// adapter chooser's rule, reports of failures (stderr and the event log) and the cause of a
// socket failure in words.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/progress.h"
#include "base/prompt.h"
#include "base/remaining_time.h"
#include "params/target.h"

class CMRegApp;
class CBlockingSocketException;
struct CliContext;

namespace cli {

// Exit status of every command (quillmar-cli --help lists them).
inline constexpr int kExitDone = 0;
// No connection, no capture device, a module that did not answer or refused, or a value the
// input check refused. Every step carried out before the failure has been reported.
inline constexpr int kExitFailed = 1;
// The command line was refused (command, option, target, number or field); nothing was sent.
inline constexpr int kExitUsage = 2;
// Several adapters carry modules and none could be chosen (see the adapter rule).
inline constexpr int kExitChooseAdapter = 3;
// 128 + the signal: ended by SIGHUP (129), SIGINT (130), SIGPIPE (141, the output was
// closed) or SIGTERM (143); the exit banner is written first.
inline constexpr int kExitSignalBase = 128;

// The footer of quillmar-cli --help: conventions, targets and the exit status table.
std::string HelpFooter();

// A target resolved to an address.
struct ResolvedTarget {
  std::string address;       // dotted IPv4
  std::string node;          // the node number as decimal text, or the address
  int exitCode = kExitDone;  // not kExitDone: refused or not found (reported already)
};

// Parses `text` with the one target parser and places a node number on `network` (the
// --net text, else the profile's "Default Net"). A serial number is looked up by a discovery.
// Refusals are printed and logged; `command` names the command in them.
ResolvedTarget ResolveTarget(CliContext& context, const std::string& command,
                             const std::string& text, const std::string& network);

// Prints "quillmar-cli <command>: <text>" on stderr and logs it as an ERROR line.
void ReportFailure(const std::string& command, const std::string& text);

// --adapter NAME: selects the adapter, or refuses a name no capture device has (listing the
// names) with kExitUsage. An empty name selects nothing and passes.
int SelectNamedAdapter(CliContext& context, const std::string& command, const std::string& name);
// Logs an Info line "quillmar-cli <command>: <text>" (changes made to a module).
void LogChange(const std::string& command, const std::string& text);

// The Windows Sockets number of a failure, also when the exception only carries it in its
// text ("Receive error: (#10054,…)") or says it timed out; 0 when none is known.
int SocketErrorOf(const CBlockingSocketException& error);
// "<GetErrorMessage()> (<words>, error <n>)" or the message alone when no cause is known.
std::string DescribeSocketFailure(const CBlockingSocketException& error);
// The Modbus exception code of a refused request (errCode of the exception answer), or 0.
int ModbusExceptionOf(const CBlockingSocketException& error);
// "the module has no such register (exception 2)" and the like.
std::string ModbusExceptionWords(int code);

// The prompt the application object asks through. Questions go to the terminal prompt; the
// adapter chooser follows the rule every command shares:
//   - exactly one listed adapter holds the target (its network, or its node of that serial):
//     it is taken without asking;
//   - with --yes: the first adapter that holds the target; none holds it (or there is no
//     target): no adapter, and the command ends with kExitChooseAdapter;
//   - otherwise a terminal is asked, and nobody to ask is the same refusal.
class ChoosingPrompt : public base::Prompt {
 public:
  ChoosingPrompt(base::Prompt& terminal, CMRegApp& app);

  void SetAssumeYes(bool yes) { yes_ = yes; }
  void SetTargetAddress(std::optional<params::Ipv4Bytes> address) { address_ = address; }
  void SetTargetSerial(std::optional<uint32_t> serial) { serial_ = serial; }
  // True once the chooser ended without an adapter in this run.
  bool ChoiceRefused() const { return refused_; }
  // Shown at least once in this run.
  bool ChooserShown() const { return shown_; }

  base::PromptAnswer Ask(const std::string& text, const std::string& caption,
                         base::PromptButtons buttons, base::PromptIcon icon) override;
  void Beep() override;
  int ChooseAdapter(const std::vector<std::string>& entries) override;

 private:
  base::Prompt& terminal_;
  CMRegApp& app_;
  bool yes_ = false;
  std::optional<params::Ipv4Bytes> address_;
  std::optional<uint32_t> serial_;
  bool refused_ = false;
  bool shown_ = false;
};

// A discovery before the first module is read, so that the adapter is chosen once and the
// reads (also those on several threads) find the inventory ready. Not kExitDone: refused (the
// failure is reported, ending "; <notDone>").
int PrepareInventory(CliContext& context, const std::string& command,
                     const std::string& notDone = "the command was not carried out");

// A bar on stderr when it is a terminal (nothing on a pipe or file), with the time left once
// it can be estimated. Workers may report at once; a signal (`cancel`) cancels the progress.
class TerminalProgress : public base::Progress {
 public:
  explicit TerminalProgress(base::CancelToken& cancel);
  ~TerminalProgress() override { Finish(); }
  void SetRange(int total) override;
  void SetPosition(int done) override;
  void SetText(const std::string& text) override;
  bool CancelRequested() const { return cancel_.IsCancelled(); }
  // Ends the bar's line (also done by the destructor).
  void Finish();

 private:
  void Draw();  // the caller holds mutex_
  std::mutex mutex_;
  base::CancelToken& cancel_;
  base::RemainingTime remaining_;
  bool shown_ = false;
  bool drawn_ = false;
  int total_ = 100;
  int position_ = 0;
  std::string text_;
};

// The last lines of every operation on several modules: one row per module with its result
// and the time it took, failures named.
struct ModuleOutcome {
  std::string module;  // the address, or the target as given
  bool ok = false;
  std::string result;  // "done", or what failed
  uint32_t ms = 0;     // time spent on the module
};
// The table on `out`; nothing when `modules` is empty.
void PrintSummary(std::FILE* out, const std::vector<ModuleOutcome>& modules);
// The same as JSON: [{"module", "ok", "result", "ms"}].
nlohmann::json SummaryJson(const std::vector<ModuleOutcome>& modules);

}  // namespace cli
