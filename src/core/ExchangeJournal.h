#pragma once
// The journal of one DLL exchange: the plan, decided while the site still runs, and one record
// per step after it. It lets a later start finish an exchange that a crash or a power cut
// interrupted, always towards a consistent set: every copy old, or every copy new.
//
// Each record carries its own length and CRC-32, so a torn or damaged tail is recognised and
// dropped: the step it announced may or may not have happened, and every step is undone by
// looking at the files themselves. The swaps themselves write nothing: a record says that they
// began and one that they ended, and in between each target's own files show how far it got.
// Earlier versions wrote one record per swap instead; such a journal is still followed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ExchangeEntry {
  std::wstring target;
  std::wstring staged;      // the verified copy beside the target, moved to its name
  std::wstring backup;      // where the current target is renamed to before the swap
  std::wstring discarded;   // where a swapped target is renamed to when it is put back
  bool hadOriginal = true;  // false: the target did not exist, putting back removes it
};

struct ExchangePlan {
  std::wstring generation;  // names this exchange's files: sortable, newest highest
  std::wstring site;
  std::wstring pool;  // empty: the site alone
  std::vector<ExchangeEntry> entries;
};

// Swapped is written by earlier versions only (one record per swap).
enum class JournalStep {
  Stopped,
  Swapped,
  RollbackBegun,
  RolledBack,
  Started,
  SwitchBegun,  // the swaps begin: from here on the files say which entries were swapped
  SwitchEnded,  // every entry was swapped
};

// The endings of an entry's files beside its target.
inline constexpr wchar_t kStagedSuffix[] = L".neu";
inline constexpr wchar_t kBackupSuffix[] = L".sicherung";
inline constexpr wchar_t kDiscardedSuffix[] = L".verworfen";

// The names of one entry's files beside its target: "<target>.<generation>-<index>" followed by
// ".neu" (staged), ".sicherung" (backup) or ".verworfen" (put back).
ExchangeEntry PlannedEntry(const std::wstring& target, const std::wstring& generation,
                           std::size_t index, bool hadOriginal);

// A generation: an 8-digit sequence number, "_", then the UTC time as 17 digits
// (yyyymmddhhmmssmmm). It sorts as text with the newest highest, whatever the clock did, since
// the sequence number comes first and only ever rises. A sequence past the largest 8-digit number
// is written as that number: it never wraps to a low one that would sort as the oldest.
std::wstring MakeGeneration(std::uint32_t sequence, const std::wstring& utcDigits);
inline constexpr std::uint32_t kLastGenerationSequence = 99999999;
// The sequence after the highest one found: one more, but never past kLastGenerationSequence
// (generations of that number then sort by their time).
std::uint32_t NextGenerationSequence(std::uint32_t highest);
// Whether text is a generation: the form above, or the 17 digits of local time that earlier
// versions wrote (sequence 0). Nothing else can be part of a file name the service derives.
bool IsGeneration(const std::wstring& text);
// The sequence number of a generation; 0 for the earlier form or text that is no generation.
std::uint32_t GenerationSequence(const std::wstring& generation);
// A text that sorts generations by age, the newest highest: the earlier form counts as sequence 0.
std::wstring GenerationSortKey(const std::wstring& generation);
// The generation in the name of one of an exchange's files, "<prefix><generation>-<n><kind>";
// empty when the name has no such part.
std::wstring GenerationOfFileName(const std::wstring& name, const std::wstring& prefix);

// What a journal must fit before any file named in it is touched.
struct JournalExpectations {
  std::wstring site;  // the configured site and pool
  std::wstring pool;
  std::vector<std::wstring> targets;  // the configured target DLLs
};

// Why the plan cannot have been written by this service for this configuration, or nothing when
// it fits: site and pool as configured and passing the name rule, a well-formed generation, every
// target a configured one, and every other name exactly the one derived from its target, the
// generation and its place in the plan.
std::optional<std::wstring> JournalRefusal(const ExchangePlan& plan,
                                           const JournalExpectations& expected);

// One framed record: length (4 bytes, little endian), CRC-32 of the payload (4 bytes), payload.
std::string EncodeJournalRecord(const std::string& payload);
// The payloads of every whole record, in order, up to the first torn or damaged one.
std::vector<std::string> DecodeJournalRecords(const std::string& bytes);

std::string PlanRecord(const ExchangePlan& plan);
// index: the entry swapped (Swapped only).
std::string StepRecord(JournalStep step, std::size_t index = 0);

struct JournalState {
  std::optional<ExchangePlan> plan;  // absent: not even the plan is readable
  std::size_t swapped = 0;           // entries swapped by an earlier version's records
  bool switchBegun = false;
  bool switchEnded = false;
  bool rollbackBegun = false;
  bool rolledBack = false;
  bool siteMayBeStopped = true;  // false only when the last site step was a start
};

// Reads the records a journal file holds. Never raises: what cannot be read is not there.
JournalState ReadJournal(const std::string& bytes);

struct RecoveryDecision {
  bool restoreOld = false;     // put every target back from its backup (else keep the new set)
  // The site runs with DLLs that are to be put back: once every copy is back, it is stopped and
  // started so that it loads the old set.
  bool restartAfterRestore = false;
  bool startSite = false;
};

// What the files of one entry show: which of its target, staged copy and backup exist.
struct EntryFiles {
  bool target = false;
  bool staged = false;
  bool backup = false;
};

// Whether the files show the entry's swap done: its staged copy has taken the target's name, and
// a target that was there before is now its backup. A swap stopped between its two renames, or
// one never begun, is not done.
bool SwapVisible(const ExchangeEntry& entry, const EntryFiles& files);

// What a start finds to do: the new set stays only when every entry was swapped (the journal
// says the swaps ended; or they began and every entry's files show its swap done; or, in an
// earlier version's journal, every swap has its record) and no rollback had begun; the site is started unless the journal shows it started after its last stop. A
// running site whose DLLs go back keeps running while they are renamed back, and is restarted
// once every copy is back, so that a copy that cannot be put back yet costs no outage.
// files: one per plan entry, in plan order.
RecoveryDecision DecideRecovery(const JournalState& state, const std::vector<EntryFiles>& files);
