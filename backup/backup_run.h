#pragma once
// The backup run over many modules (one BackupTh each, all at once) with its report, and the
// restore of a backup set onto the selected modules: matching by IP text or by serial number,
// network settings and line positions, one restore job per module, the report and the reset.
// Toolkit-free: the user is asked and told through a Prompt, progress and STOP go through a
// Progress, and the line-wide requests through LineOperations.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_job.h"
#include "backup/backup_record.h"
#include "base/language.h"
#include "base/progress.h"
#include "base/prompt.h"

class CNode_Data;

namespace backup {

// A selected module as discovery knows it.
struct ModuleInfo {
  uint32_t serial = 0;
  std::string ipText, maskText, gatewayText;
  uint32_t ipAddress = 0;  // network order
  uint8_t linePosition = 0xFF;
  uint8_t familyByte = 0;
  uint16_t firmwareVersion = 0;
  std::array<uint8_t, kNodeBlockSize> nodeBlock{};
};
ModuleInfo ModuleFromNode(const CNode_Data& node);

using LinkFactory = std::function<std::unique_ptr<ModuleLink>(const std::string& ipText)>;
// Whether the PC reaches a module with its adapter's settings: nullopt when it does; else the
// name of the adapter and a host address of the module's /24 that no known module uses (what
// the user is asked to add to the adapter).
struct Unreachable {
  std::string adapter;
  std::string proposal;
};
using ReachabilityCheck = std::function<std::optional<Unreachable>(const ModuleInfo&)>;

// Told (from the run's thread) whenever a job's state or result changes: the job's index in
// the run, its state and its result code.
using JobObserver = std::function<void(size_t job, int32_t state, uint32_t result)>;

// How one module's job ended.
struct ModuleOutcome {
  uint32_t serial = 0;
  std::string ipText;
  bool failed = false;
  // Backed up, but the record lacks what a restore needs (no flash image: PLC mode or old
  // firmware, or registers left unread): the run is not a full success.
  bool incomplete = false;
  uint32_t result = 0;
  std::string errorText;
  uint32_t elapsedMs = 0;
  // Why a selected module got no job at all (no record in the file, a record the restore
  // dropped); it is then failed.
  std::string reason;
  // "done", "no connection", ...: the texts of the log and of --json, or, for `language`, their
  // translation to show (the parts translated, then composed).
  std::string Describe(bool restore, base::Language language = base::Language::German) const;
};

struct BackupRunResult {
  bool writeFile = false;  // no failure, not cancelled: the records may be saved
  bool cancelled = false;
  std::vector<CNode_DataBackup> records;
  std::vector<ModuleOutcome> outcomes;
  std::string failureText;     // the report shown instead of a file
  std::string warningEntries;  // modules with result 14 or 15
  uint32_t elapsedMs = 0;
};

// Texts of the backup run.
inline constexpr char kNoSelectionBackupText[] =
    "Module aus der Liste auswählen, um ein Backup durchzuführen!";
inline constexpr char kDuplicateSelectedText[] =
    "Backup abgebrochen, da folgende Module doppelte IP-Adressen haben:(%u, %u) - \"%s\" !";
inline constexpr char kUnreachableText[] =
    "Aufgrund der Netzwerkadaptereinstellungen ist das Modul mit IP \"%s (%s) nicht erreichbar. "
    "Wenn die IP Adresse  \"%s angegeben wird, muss die Subnetzmaske \"255.255.255.0\" gesetzt "
    "sein. Bitte nochmals versuchen...";
inline constexpr char kThreadsText[] =
    "Backup wurde abgebrochen! Reason: Only %u from %u threads were successfully created for the "
    "operation !?!";
inline constexpr char kDuplicateIpsText[] =
    "Es existieren doppelte IP Adressen im Netzwerk:\r\n\t%s";
inline constexpr char kNoConnectionText[] =
    "Eine Verbindung zu folgenden Modulen ist nicht möglich:\r\n\t%s";
inline constexpr char kBackupFailedText[] =
    "Backup war nicht erfolgreich für die aufgelisteten Module. Bitte Service kontaktieren.";
inline constexpr char kBackupFailedDetail[] = "(err# %u).\r\n--------------------------\r\n%s";
inline constexpr char kOldFirmwareText[] =
    "Achtung! Backup erfolgreich, jedoch alte FW Version auf den Modulen.%s - %d";
inline constexpr char kBackupDoneText[] =
    "Backup von %d Modulen wurde in %d ms erfolgreich abgeschlossen und in der Datei \"%s\" "
    "gespeichert.";
inline constexpr char kBackupWarningsText[] =
    "Backup war erfolgreich, aber mit Warnungen für die aufgelisteten Module. Das erstellte "
    "backup soll nicht für Wiederherstellung benutzt werden.\r\n\t%s";

// Runs the backup jobs of the modules and builds the report. Progress: range 100 per module,
// text "%i %%"; cancelling it stops every job.
BackupRunResult RunBackup(const std::vector<ModuleInfo>& modules, const LinkFactory& links,
                          base::Prompt& prompt, base::Progress& progress,
                          const JobTiming& timing = {}, const JobObserver& observer = {},
                          const ReachabilityCheck& reachable = {});
// Shows the old-firmware notes, writes the file (atomically) and tells the outcome. True when
// the file was written.
bool SaveBackupRun(const BackupRunResult& run, const std::string& path, base::Prompt& prompt);

// ---- restore ----

// Texts of the restore.
inline constexpr char kNoSelectionRestoreText[] =
    "Module aus der Liste für die Wiederherstellung auswählen.";
inline constexpr char kTypeMismatchText[] =
    "WARNING !\r\n There are type mismatching for the following modules:\r\n%s\r\nTry again with "
    "other Backup file.";
inline constexpr char kWithoutRecordText[] =
    "Achtung!\r\n %d Module von %d ausgewählten können nicht wiederhergestellt werden, da für "
    "diese keine Konfiguration im Backupfile vorliegt\r\n Unbekannte Module sind: %s";
inline constexpr char kNoMatchText[] =
    "Ausgewähltes Backupfile enthält keine Daten für ausgewählte Module.\r\nPassendes Backupfile "
    "verwenden.";
inline constexpr char kConfirmRestoreText[] =
    "Soll die Wiederherstellung mit ausgewähltem Backupfile für die %d Module stattfinden?";
inline constexpr char kConfirmSettingsText[] =
    "\r\nDie Subnetzmaske/Gatewayadresse muss an %d Modulen geändert werden.";
inline constexpr char kConfirmAddressText[] =
    "\r\n\tIP-Adresse muss an %d Modulen geändert werden.";
inline constexpr char kPositionFailedText[] =
    "Vorgang abgeborchen. Es war nicht möglich die Position des Moduls mit Seriennummer %s zu "
    "ändern.";
inline constexpr char kRestoreDoneText[] =
    "Wiederherstellung von %d Modulen wurde in %d ms erfolgreich abgeschlossen. Aus Backupfile: "
    "\"%s\".";
inline constexpr char kMissingAfterChangeText[] =
    "Vorgang abgebrochen. Module mit folgender Seriennummer sind während des Restores nicht "
    "erreichbar, bitte nocheinmal versuchen. \"%s\" !";
inline constexpr char kAddressNotChangedText[] =
    "Vorgang abgebrochen. Es ist nicht möglich die IP Adresse der Module mit Seriennummer %s zu "
    "ändern. Bitte Modul Status prüfen.";
inline constexpr char kSharedAfterChangeText[] =
    "Vorgang abgebrochen. Es ist nicht möglich ein Restore durchzuführen, da Module doppelte IP "
    "Adressen haben - \"%s\" .";
inline constexpr char kChangeFailedText[] =
    "Vorgang abgebrochen. Ein Change IP Address Of Modulesge IP ist nicht möglich, bitte "
    "Netzwerkstatus oder Topologie prüfen.";
inline constexpr char kEmptyFlashText[] =
    "Achtung, dieses Backup enthält Fehler in den Modulen mit IP\r\n";
inline constexpr char kEmptyFlashQuestion[] =
    "\r\nkann nicht wiederhergestellt werden. Wollen Sie die Wiederherstellung fortsetzen "
    "prozedur für die anderen Module?";
inline constexpr char kRestoreCancelledText[] =
    "Wiederherstellungsprozess wurde vom Benutzer abgebrochen.!";
inline constexpr char kProgramFailedText[] =
    "Es ist nicht möglich das Programm zu löschen oder hochzuladen für folgende Module:\r\n\t%s";
inline constexpr char kFlashFailedText[] =
    "Die Speicherung im Flash-Speicher war für folgende Module nicht möglich:\r\n\t%s";
inline constexpr char kFirmwareCheckText[] =
    "Es ist nicht möglich die Wiederherstellung für folgende Module durchzuführen (Firmware "
    "Version überprüfen):\r\n\t%s";
inline constexpr char kConnectionProblemText[] =
    "Verbindungsproblem zu folgenden  Modulen::\r\n\t%s";
inline constexpr char kNoPingText[] =
    "Es ist nicht möglich zu folgenden Modulen eine Verbindung herzustellen (pingen):\r\n\t%s";
inline constexpr char kResettingText[] = "Reseting...";
// A record whose address, mask or gateway text is no IPv4 address: sending it would leave the
// module at 0.0.0.0, so the restore stops before anything is sent.
inline constexpr char kBadRecordText[] =
    "Restore stopped before anything was sent: the backup record of module %u (%s) has %s "
    "\"%s\", which is not an IPv4 address.";
// Mask or gateway changes (restore by IP text) that the modules' answers do not confirm.
inline constexpr char kSettingsNotTakenText[] =
    "Restore stopped before any register was written: these modules did not take the subnet "
    "mask/gateway of their backup record:\r\n\t%s";
// The translation context of the outcome texts (ModuleOutcome::Describe).
inline constexpr char kOutcomeContext[] = "backup::ModuleOutcome";
// Outcomes of selected modules that get no restore job.
// Added to the outcome of a module not fully backed up.
inline constexpr char kIncompleteOutcomeNote[] = QM_TRANSLATE_NOOP(
    "backup::ModuleOutcome", "not fully backed up: a restore cannot use this record");
inline constexpr char kNoRecordOutcome[] =
    QM_TRANSLATE_NOOP("backup::ModuleOutcome", "not restored: no record in the backup file");
inline constexpr char kEmptyFlashOutcome[] = QM_TRANSLATE_NOOP(
    "backup::ModuleOutcome", "not restored: its backup record has no flash image");

// Which record goes to which selected module, and what must change first.
struct RestoreMatch {
  struct Pair {
    size_t module = 0;
    size_t record = 0;
    bool positionChange = false;
    bool settingsChange = false;  // mask or gateway (by IP text)
    bool addressChange = false;   // IP, mask or gateway (by serial)
  };
  std::vector<Pair> pairs;
  std::vector<size_t> withoutRecord;  // modules
  std::vector<size_t> typeMismatch;   // modules whose family differs from the record's
  size_t Count(bool RestoreMatch::Pair::*flag) const;
};
// For every module the first record not yet taken with the same IP text.
RestoreMatch MatchByIpText(const std::vector<CNode_DataBackup>& records,
                           const std::vector<ModuleInfo>& modules);
// For every module the record with the same serial number.
RestoreMatch MatchBySerial(const std::vector<CNode_DataBackup>& records,
                           const std::vector<ModuleInfo>& modules);

// A module whose Set NodeIP answer did not carry what it was asked (or that did not answer).
struct SettingsNotTaken {
  uint32_t serial = 0;
  std::string reason;
};

// The requests of the restore that go to the line as a whole (discovery protocol).
class LineOperations {
 public:
  virtual ~LineOperations() = default;
  // Set NodeIP for one module (10 ms apart are kept by the caller); false when it could not be
  // sent (a text that is no IPv4 address is never sent). Then the answers: the modules asked
  // since the last wait whose answer did not carry the settings asked for.
  virtual bool SetNodeIp(const ModuleInfo& module, const std::string& ip, const std::string& mask,
                         const std::string& gateway) = 0;
  virtual std::vector<SettingsNotTaken> AwaitAnswers(uint32_t ms) = 0;
  // Set First/Last with the position; true when the module answered within 4000 ms.
  virtual bool SetFirstLast(const ModuleInfo& module, uint8_t position) = 0;
  // The 16-byte reset request broadcast 3 times to UDP 55555.
  virtual bool BroadcastReset() = 0;
  virtual std::vector<ModuleInfo> Rediscover() = 0;
  // Waits ms (true), or false when the progress was cancelled.
  virtual bool Wait(uint32_t ms, base::Progress& progress) = 0;
};

struct RestoreOptions {
  bool byIp = false;
  std::string fileName;  // named in the success message
  uint32_t resetWaitMs = 10000;
  uint32_t addressWaitMs = 15000;
  JobTiming timing;
  JobObserver observer;
  // Told which selected module (by index) each restore job serves, before the jobs start.
  std::function<void(const std::vector<size_t>& modules)> onJobs;
};

struct RestoreRunResult {
  bool done = false;  // every job succeeded and the modules were reset
  bool cancelled = false;
  // Once jobs ran: one per selected module, in the order of the selection (modules without a
  // job are failed with their reason).
  std::vector<ModuleOutcome> outcomes;
  std::string message;  // the last text shown
};

RestoreRunResult RunRestore(std::vector<CNode_DataBackup> records,
                            const std::vector<ModuleInfo>& modules, const LinkFactory& links,
                            LineOperations& line, base::Prompt& prompt, base::Progress& progress,
                            const RestoreOptions& options);

}  // namespace backup
