#include "Models/StopStartSwitch.h"

#include "Models/AppPoolRecycler.h"
#include "Models/JournalFile.h"
#include "Models/LoadProof.h"
#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "Models/SiteControl.h"

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
bool StopStartSwitch::RunsNewSet() {
  const std::vector<OldCopyHolder> holders = proof_->Look(0);
  if (holders.empty() || proof_->LookFailed()) return proof_->Prove(0);
  log_.Log(L"Die alte DLL läuft noch; starte die Anwendungspools der Site neu.");
  std::vector<std::wstring> pools;
  for (const OldCopyHolder& holder : holders) pools.push_back(holder.pool);
  const std::unique_ptr<AppPoolRecycler> recycler = recycler_();
  if (!recycler->RecycleRunning(site_, pool_, pools) || !proof_->Prove(recycler->DrainWaitMs())) {
    return false;
  }
  log_.Log(L"Keine alte DLL mehr geladen.");
  return true;
}

void StopStartSwitch::BeforeRestore() {
  control_.Stop(site_, pool_);
  journal_.Note(JournalStep::Stopped);
}

// The site runs with what could be had, even before every copy is back.
bool StopStartSwitch::AfterRestore(bool) { return StartAndNote(SiteControl::kStartVersuche); }

bool StopStartSwitch::StartAndNote(int attempts) {
  if (!control_.Start(site_, pool_, attempts)) {
    log_.Log(kStartBleibtOffen);
    MeldeSiteBleibtAngehalten(outcomes_, site_, log_.Lines());
    return false;
  }
  journal_.Note(JournalStep::Started);
  return true;
}
