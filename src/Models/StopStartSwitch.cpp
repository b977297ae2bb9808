#include "Models/StopStartSwitch.h"

#include <algorithm>

#include "Models/AppPoolRecycler.h"
#include "Models/JournalFile.h"
#include "Models/LoadProof.h"
#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "Models/SiteControl.h"
#include "core/PathNames.h"

namespace {
// A worker of an IIS pool: its pool named on its command line, or IIS's worker image.
bool IsIisWorker(const OldCopyHolder& holder) {
  return !holder.pool.empty() || SamePath(holder.image, L"w3wp.exe");
}

const wchar_t kNurAndereProzesse[] =
    L"Nur Prozesse außerhalb des IIS haben noch eine alte DLL geladen; ein Neustart der "
    L"Anwendungspools löst sie nicht.";
}  // namespace

StopStartSwitch::StopStartSwitch(SiteControl& control, JournalFile& journal, RunLogLines& log,
                                 OutcomeSink* outcomes, std::wstring site, std::wstring pool)
    : control_(control),
      journal_(journal),
      log_(log),
      outcomes_(outcomes),
      site_(std::move(site)),
      pool_(std::move(pool)) {}

bool StopStartSwitch::BeforeSwaps() { return control_.Stop(site_, pool_); }

void StopStartSwitch::ProveWith(LoadProof* proof, RecyclerFactory recycler) {
  proof_ = proof;
  recycler_ = std::move(recycler);
}

// A swap that failed has put the old set back, which the old workers serve.
bool StopStartSwitch::AfterSwaps(bool newSet) {
  if (!StartAndNote(SiteControl::kStartVersuche)) return false;
  return !newSet || proof_ == nullptr || RunsNewSet();
}

// The site runs either way; a pool that cannot be recycled leaves it with the old code, and the
// journal stays as after a start that failed.
bool StopStartSwitch::RunsNewSet() { return RecycleOldWorkers(true); }

bool StopStartSwitch::RecycleOldWorkers(bool prove) {
  const std::vector<OldCopyHolder> holders = proof_->Look(0);
  if (holders.empty() || proof_->LookFailed()) return !prove || proof_->Prove(0);
  // A recycle ends only what IIS's workers keep: a copy that only other processes keep is named,
  // and the site's pools are left alone (recycled at every tick, they would gain nothing).
  if (std::none_of(holders.begin(), holders.end(), IsIisWorker)) {
    return !prove || proof_->Refuse(kNurAndereProzesse, holders);
  }
  log_.Log(L"Die alte DLL läuft noch; starte die Anwendungspools der Site neu.");
  const std::unique_ptr<AppPoolRecycler> recycler = recycler_();
  if (!recycler->RecycleRunning(site_, pool_)) {
    // The site runs, with the old code: not in effect, for the reason the recycle logged.
    if (prove) proof_->ReportNotInEffect(LetzteUrsache(log_.Lines()), holders);
    return false;
  }
  const unsigned drainMs = recycler->DrainWaitMs();
  if (prove ? !proof_->Prove(drainMs) : !proof_->Look(drainMs).empty()) return false;
  log_.Log(L"Keine alte DLL mehr geladen.");
  return true;
}

void StopStartSwitch::BeforeRestore() {
  if (proof_ != nullptr) proof_->NoteOldFiles();  // the copies taken back are the old ones now
  control_.Stop(site_, pool_);
  journal_.Note(JournalStep::Stopped);
}

// The site runs with what could be had, even before every copy is back. Workers that kept the
// copy taken back are recycled as after the swaps; that they end is not waited for.
bool StopStartSwitch::AfterRestore(bool allBack) {
  if (!StartAndNote(SiteControl::kStartVersuche)) return false;
  if (allBack && proof_ != nullptr) {
    proof_->NoteNewFiles();
    RecycleOldWorkers(false);
  }
  return true;
}

bool StopStartSwitch::StartAndNote(int attempts) {
  if (!control_.Start(site_, pool_, attempts)) {
    log_.Log(kStartBleibtOffen);
    MeldeSiteBleibtAngehalten(outcomes_, site_, log_.Lines());
    return false;
  }
  journal_.Note(JournalStep::Started);
  return true;
}
