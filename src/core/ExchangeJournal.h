#pragma once
// The journal of one DLL exchange: the plan, decided while the site still runs, and one record
// per step after it. It lets a later start finish an exchange that a crash or a power cut
// interrupted, always towards a consistent set: every copy old, or every copy new.
//
// Each record carries its own length and CRC-32, so a torn or damaged tail is recognised and
// dropped: the step it announced may or may not have happened, and every step is undone by
// looking at the files themselves.

#include <cstddef>
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

enum class JournalStep { Stopped, Swapped, RollbackBegun, RolledBack, Started };

// One framed record: length (4 bytes, little endian), CRC-32 of the payload (4 bytes), payload.
std::string EncodeJournalRecord(const std::string& payload);
// The payloads of every whole record, in order, up to the first torn or damaged one.
std::vector<std::string> DecodeJournalRecords(const std::string& bytes);

std::string PlanRecord(const ExchangePlan& plan);
// index: the entry swapped (Swapped only).
std::string StepRecord(JournalStep step, std::size_t index = 0);

struct JournalState {
  std::optional<ExchangePlan> plan;  // absent: not even the plan is readable
  std::size_t swapped = 0;           // entries swapped, counted from the first
  bool rollbackBegun = false;
  bool rolledBack = false;
  bool siteMayBeStopped = true;  // false only when the last site step was a start
};

// Reads the records a journal file holds. Never raises: what cannot be read is not there.
JournalState ReadJournal(const std::string& bytes);

struct RecoveryDecision {
  bool restoreOld = false;     // put every target back from its backup (else keep the new set)
  bool stopSiteFirst = false;  // the site runs with DLLs that are to be put back
  bool startSite = false;
};

// What a start finds to do: the new set stays only when every entry was swapped and no rollback
// had begun; the site is started unless the journal shows it started after its last stop. A
// running site whose DLLs go back is stopped first and started after, so it loads the old set.
RecoveryDecision DecideRecovery(const JournalState& state);
