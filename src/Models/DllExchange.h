#pragma once
// One exchange of every target DLL, all or nothing. While the site still runs, the verified
// download is copied beside every target, and the plan says which target gets which staged copy
// and backup; then only renames happen: each target is renamed aside to its backup and its
// staged copy takes its name, which works even while a worker process has the DLL loaded. When
// one swap fails, every target swapped so far is put back, so the site always gets a complete
// set, old or new.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Models/EnginePlatform.h"
#include "core/ExchangeJournal.h"

class HeldFile;
class JournalFile;
class RunLogLines;
class TDLLKonfiguration;

// The line of a rollback that could not put every copy back: a later tick finishes it.
extern const wchar_t* const kRuecknahmeBleibtOffen;

class DllExchange {
 public:
  DllExchange(const EnginePlatform& platform, const TDLLKonfiguration& konfiguration,
              RunLogLines& log, JournalFile& journal);
  ~DllExchange();

  // Decides, while the site still runs, which target gets which staged copy and backup, each
  // from the target's own product version as it is now: a copy newer than the published version
  // is not part of the exchange; one whose version cannot be read is replaced.
  // A version that `revoked` names is replaced even when it is newer.
  void Plan(const std::wstring& onlineVersion,
            const std::function<bool(const std::wstring&)>& revoked = {});
  // Takes a plan read back from a journal, to finish it.
  void Adopt(const ExchangePlan& plan);
  const ExchangePlan& CurrentPlan() const { return plan_; }

  // Copies the verified download beside every target, flushed, holds each copy against writers
  // and proves by its SHA-256 that it holds the verified bytes. A failure logs its target,
  // removes what was staged and answers false: no target was touched.
  bool Stage(HeldFile& verified, const std::string& sha256);
  // Removes the staged copies (nothing was swapped).
  void DiscardStaged() noexcept;
  // Lets go of the staged copies still held.
  void ReleaseCopies();

  // Swaps every planned target in list order, logging each, and a newer copy's "kept" line;
  // the journal says that the swaps began and that they ended. A failed swap puts back every
  // target swapped so far.
  void SwapAll();
  // Every copy was swapped.
  bool Succeeded() const { return succeeded_; }
  // A rollback could not put every copy back: the journal stays for the next tick.
  bool RollbackOpen() const { return rollbackOpen_; }

  // Puts every entry back from its backup, the last first, judging each by the files themselves,
  // so that running it again after an interruption is safe. Answers whether every one succeeded;
  // a target whose backup cannot take its place keeps the copy it had, never none.
  bool RestoreAll() { return Restore(plan_.entries.size()); }
  // What the files of each entry show now, in plan order.
  std::vector<EntryFiles> FilesOfPlan();

  // The site runs again: the journal goes, and with it what this exchange left beside the
  // targets. After a complete exchange the backups of the first occurrence of each target stay
  // (one generation); those of a target listed twice hold the new DLL and go.
  void Finish(bool newSet);
  // The details of an installed update: per target its path, old and new version.
  std::vector<std::wstring> InstalledDetails(const std::wstring& onlineVersion) const;

 private:
  std::uint32_t NextGeneration();
  void SwapOne(std::size_t n);
  bool Restore(std::size_t count);
  void Occupy(const ExchangeEntry& entry);
  // Runs action, trying again for a while as long as another process holds the file.
  void WithRetry(const std::function<void()>& action);

  const EnginePlatform& platform_;
  const TDLLKonfiguration& konfiguration_;
  RunLogLines& log_;
  JournalFile& journal_;
  ExchangePlan plan_;
  // Per target in list order: its entry in plan_, or -1 for a newer copy that stays.
  std::vector<int> planIndex_;
  // Per plan entry: the target's version before the exchange (empty when unreadable).
  std::vector<std::wstring> oldVersions_;
  // Each staged copy, held against writers from its hash check to its swap (plan order).
  std::vector<std::unique_ptr<HeldFile>> heldCopies_;
  bool succeeded_ = false;
  bool rollbackOpen_ = false;
};
