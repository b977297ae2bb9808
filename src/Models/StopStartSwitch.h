#pragma once
// The site is stopped before the swaps and started after them (IISMODUS=STOPP). With a pool
// named, the pool is stopped after the site and started before it, which ends its worker
// processes so that the new DLL is loaded. Without one, IIS keeps the site's worker processes,
// and the DLL they loaded, across the stop: those still found with an old copy after the start
// are ended by a recycle of the site's running pools, and the proof is made again.

#include <functional>
#include <memory>
#include <string>

#include "Models/SiteSwitch.h"

class AppPoolRecycler;
class LoadProof;

class JournalFile;
class OutcomeSink;
class RunLogLines;
class SiteControl;

class StopStartSwitch : public SiteSwitch {
 public:
  using RecyclerFactory = std::function<std::unique_ptr<AppPoolRecycler>()>;
  StopStartSwitch(SiteControl& control, JournalFile& journal, RunLogLines& log,
                  OutcomeSink* outcomes, std::wstring site, std::wstring pool);
  // With a proof, a start after a complete swap is only taken when no process keeps an old copy.
  void ProveWith(LoadProof* proof, RecyclerFactory recycler);

  Verdict CanTake(HeldFile&, const ExchangePlan&) override { return Verdict::Yes; }
  bool BeforeSwaps() override;
  bool StopsTheSite() const override { return true; }
  bool AfterSwaps(bool newSet) override;
  bool RollsBackWhenNotTaken() const override { return false; }
  void BeforeRestore() override;
  bool AfterRestore(bool allBack) override;

  // Starts the site; notes the start in the journal, or logs and reports that it stays stopped.
  bool StartAndNote(int attempts);
  // After a start: recycles the site's running pools when a worker maps an old copy (needs
  // ProveWith). prove: a copy that stays, or a pool that cannot be recycled, is a failure
  // (logged, reported as not in effect); otherwise only the processes are logged, and only a
  // pool that cannot be recycled fails.
  bool RecycleOldWorkers(bool prove);

 private:
  SiteControl& control_;
  JournalFile& journal_;
  RunLogLines& log_;
  OutcomeSink* outcomes_;
  std::wstring site_;
  std::wstring pool_;
  LoadProof* proof_ = nullptr;
  RecyclerFactory recycler_;

  bool RunsNewSet();
};
