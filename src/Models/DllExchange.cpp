#include "Models/DllExchange.h"

#include <algorithm>

#include "Models/DLLKonfiguration.h"
#include "Models/JournalFile.h"
#include "Models/Leftovers.h"
#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "Models/VersionCheck.h"
#include "core/CaughtError.h"
#include "core/DateTimeFormat.h"
#include "core/Exception.h"
#include "core/PathNames.h"
#include "core/VersionCompare.h"
#include "platform/FileSystem.h"

const wchar_t* const kRuecknahmeBleibtOffen =
    L"Die Rücknahme ist unvollständig; der nächste Timer-Tick versucht sie erneut.";

namespace {
constexpr unsigned kBusyTargetRetryMs = 30000;
constexpr unsigned kBusyTargetPauseMs = 250;

Exception StagedCopyChanged(const std::wstring& staged) {
  return Exception(L"Die vorbereitete Kopie " + staged +
                   L" stimmt nicht mit der geprüften DLL überein.");
}
}  // namespace

DllExchange::DllExchange(const EnginePlatform& platform, const TDLLKonfiguration& konfiguration,
                         RunLogLines& log, JournalFile& journal)
    : platform_(platform), konfiguration_(konfiguration), log_(log), journal_(journal) {}

DllExchange::~DllExchange() = default;

// A target listed again exists by the time its second swap comes, since its first swap
// creates it.
void DllExchange::Plan(const std::wstring& onlineVersion,
                       const std::function<bool(const std::wstring&)>& revoked) {
  ExchangePlan plan;
  plan.generation = MakeGeneration(NextGeneration(), UtcDigits(platform_.clock->UtcNow()));
  plan.site = konfiguration_.IISSiteName();
  plan.pool = konfiguration_.IISAppPool();
  planIndex_.clear();
  oldVersions_.clear();
  for (const std::wstring& target : konfiguration_.DLLPfadeListe()) {
    std::wstring version;
    VersionVerdict verdict;
    try {
      version = ProductVersionText(platform_.versions, target);
      verdict = CompareWithOnline(version, onlineVersion);
    } catch (...) {
      verdict = VersionVerdict{};
    }
    if (revoked && revoked(version)) verdict = VersionVerdict{true, false};
    if (verdict.newer) {
      planIndex_.push_back(-1);
      continue;
    }
    bool plannedBefore = false;
    for (const ExchangeEntry& earlier : plan.entries) {
      plannedBefore = plannedBefore || SamePath(earlier.target, target);
    }
    const std::size_t n = plan.entries.size();
    planIndex_.push_back(static_cast<int>(n));
    plan.entries.push_back(PlannedEntry(target, plan.generation, n,
                                        plannedBefore || platform_.files->FileExists(target)));
    oldVersions_.push_back(version);
  }
  plan_ = std::move(plan);
}

void DllExchange::Adopt(const ExchangePlan& plan) {
  plan_ = plan;
  planIndex_.clear();
  oldVersions_.assign(plan_.entries.size(), L"");
}

// One more than the highest sequence number of the files of earlier exchanges beside every
// target, so that the newest backups sort highest even after the clock was set back. Only the
// service's and the administrators' files count: a planted one with a high number would make
// the real newest backup look old.
std::uint32_t DllExchange::NextGeneration() {
  FileSystem& files = *platform_.files;
  std::uint32_t highest = 0;
  for (const std::wstring& target : konfiguration_.DLLPfadeListe()) {
    const std::wstring prefix = FileNameOf(target) + L".";
    for (const std::wstring& name : files.FileNamesStartingWith(FolderOf(target), prefix)) {
      const std::uint32_t sequence = GenerationSequence(GenerationOfFileName(name, prefix));
      if (sequence > highest && OwnedByServiceOrAdministrators(files, FolderOf(target) + name)) {
        highest = sequence;
      }
    }
  }
  return NextGenerationSequence(highest);
}

// Hashing here, while the site still runs, keeps its downtime independent of the DLL's size.
bool DllExchange::Stage(HeldFile& verified, const std::string& sha256) {
  heldCopies_.clear();
  for (const ExchangeEntry& entry : plan_.entries) {
    try {
      verified.CopyDurablyTo(entry.staged);
      heldCopies_.push_back(platform_.files->HoldAgainstWriters(entry.staged));
      if (heldCopies_.back()->Sha256() != sha256) throw StagedCopyChanged(entry.staged);
    } catch (...) {
      const std::wstring reason = CaughtErrorMessage();
      DiscardStaged();
      log_.Fail(L"Fehler beim Austausch folgender DLL: " + entry.target, reason);
      ReportOutcome(platform_.outcomes, Outcome::ExchangeFailed, {entry.target, reason});
      return false;
    }
  }
  return true;
}

void DllExchange::DiscardStaged() noexcept {
  heldCopies_.clear();
  for (const ExchangeEntry& e : plan_.entries) platform_.files->RemoveIfExists(e.staged);
}

void DllExchange::ReleaseCopies() { heldCopies_.clear(); }

// Nothing is flushed between two renames: the run log's lines reach its file together after the
// last swap, and the journal only says that the swaps began and that they ended.
void DllExchange::SwapAll() {
  succeeded_ = false;
  rollbackOpen_ = false;
  const std::vector<std::wstring> targets = konfiguration_.DLLPfadeListe();
  journal_.Note(JournalStep::SwitchBegun);
  {
    HeldRunLogWrites held(log_);
    for (std::size_t i = 0; i < targets.size() && i < planIndex_.size(); ++i) {
      if (planIndex_[i] < 0) {
        log_.Log(L"Behalte neuere DLL: " + targets[i]);
        continue;
      }
      const std::size_t n = static_cast<std::size_t>(planIndex_[i]);
      try {
        SwapOne(n);
        log_.Log(L"Tausche folgende DLL: " + targets[i]);
      } catch (...) {
        const std::wstring reason = CaughtErrorMessage();
        log_.ResumeWrites();
        log_.Fail(L"Fehler beim Austausch folgender DLL: " + targets[i], reason);
        ReportOutcome(platform_.outcomes, Outcome::ExchangeFailed, {targets[i], reason});
        journal_.Note(JournalStep::RollbackBegun);
        if (Restore(n + 1)) {
          journal_.Note(JournalStep::RolledBack);
        } else {
          rollbackOpen_ = true;
        }
        return;
      }
    }
  }
  journal_.Note(JournalStep::SwitchEnded);
  succeeded_ = true;
}

// Only a staged copy that still holds exactly the verified bytes takes the target's name: the
// copy was hashed and has been held against writers since, so its name must still lead to the
// very file held.
void DllExchange::SwapOne(std::size_t n) {
  const ExchangeEntry& entry = plan_.entries[n];
  FileSystem& files = *platform_.files;
  if (n >= heldCopies_.size() || !heldCopies_[n]->IsAt(entry.staged)) {
    throw StagedCopyChanged(entry.staged);
  }
  if (entry.hadOriginal) WithRetry([&] { files.MoveAside(entry.target, entry.backup); });
  WithRetry([&] { files.MoveAside(entry.staged, entry.target); });
  heldCopies_[n].reset();
}

bool DllExchange::Restore(std::size_t count) {
  FileSystem& files = *platform_.files;
  bool all = true;
  for (std::size_t k = count; k-- > 0;) {
    const ExchangeEntry& e = plan_.entries[k];
    try {
      if (e.hadOriginal ? !files.FileExists(e.backup) : !files.FileExists(e.target)) continue;
      if (files.FileExists(e.target)) WithRetry([&] { files.MoveAside(e.target, e.discarded); });
      if (e.hadOriginal) WithRetry([&] { files.MoveAside(e.backup, e.target); });
      log_.Log(L"Stelle folgende DLL wieder her: " + e.target);
    } catch (...) {
      all = false;
      log_.Fail(L"Fehler beim Wiederherstellen folgender DLL: " + e.target, CaughtErrorMessage());
      Occupy(e);
    }
  }
  return all;
}

// A target left without a file (its backup could not take its place, or a swap stopped between
// its two renames) gets the copy that was there last, or else the staged one: a site may run
// with a mixed set for a while, never with a missing DLL.
void DllExchange::Occupy(const ExchangeEntry& e) {
  FileSystem& files = *platform_.files;
  if (!e.hadOriginal || files.FileExists(e.target)) return;
  for (const std::wstring* candidate : {&e.discarded, &e.staged}) {
    if (!files.FileExists(*candidate)) continue;
    try {
      WithRetry([&] { files.MoveAside(*candidate, e.target); });
      return;
    } catch (...) {
      log_.Fail(L"Fehler beim Wiederherstellen folgender DLL: " + e.target, CaughtErrorMessage());
    }
  }
}

std::vector<EntryFiles> DllExchange::FilesOfPlan() {
  FileSystem& files = *platform_.files;
  std::vector<EntryFiles> found;
  for (const ExchangeEntry& e : plan_.entries) {
    found.push_back(
        {files.FileExists(e.target), files.FileExists(e.staged), files.FileExists(e.backup)});
  }
  return found;
}

void DllExchange::Finish(bool newSet) {
  FileSystem& files = *platform_.files;
  heldCopies_.clear();
  journal_.Remove();
  for (std::size_t k = 0; k < plan_.entries.size(); ++k) {
    const ExchangeEntry& e = plan_.entries[k];
    files.RemoveIfExists(e.staged);
    files.RemoveIfExists(e.discarded);
    bool twice = false;
    for (std::size_t j = 0; j < k; ++j)
      twice = twice || SamePath(plan_.entries[j].target, e.target);
    if (newSet && twice) files.RemoveIfExists(e.backup);
  }
}

std::vector<std::wstring> DllExchange::InstalledDetails(const std::wstring& onlineVersion) const {
  std::vector<std::wstring> details;
  for (std::size_t k = 0; k < plan_.entries.size(); ++k) {
    details.insert(details.end(), {plan_.entries[k].target, oldVersions_[k], onlineVersion});
  }
  return details;
}

void DllExchange::WithRetry(const std::function<void()>& action) {
  Clock& clock = *platform_.clock;
  const auto end = clock.TickMilliseconds() + kBusyTargetRetryMs;
  for (;;) {
    try {
      action();
      return;
    } catch (const FileBusyError&) {
      if (clock.TickMilliseconds() >= end) throw;
      clock.Wait(kBusyTargetPauseMs);
    }
  }
}
