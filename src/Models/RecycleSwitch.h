#pragma once
// IISMODUS=RECYCLE: the site is never stopped. The targets are renamed aside and replaced as in
// every exchange, then each of the site's pools is recycled: IIS starts a new worker process,
// which maps the DLL now at the path, and lets the old one finish the requests it holds (a pool
// without a worker maps the new file at its next request). The update is in effect once no
// process maps an old copy; an old worker that keeps serving (its successor failed to start) is
// found so. A failure puts every copy back and recycles again; the journal carries a mark, so
// that a crash in between is finished by a recycle too.

#include <memory>
#include <string>

#include "Models/SiteSwitch.h"

class AppPoolRecycler;
class DllLoadProbe;
class FileSystem;
class JournalFile;
class LoadProof;
class RunLogLines;
struct LoadProbeAnswer;

class RecycleSwitch : public SiteSwitch {
 public:
  // The load probe's copy: made beside the verified download (its path without the copy's
  // ending) in the protected download folder; its bytes must hash to sha256, the download's.
  struct ProbeCopy {
    std::wstring besideDownload;
    std::string sha256;
  };

  // recycler: one whose survey decided for the recycle.
  RecycleSwitch(std::unique_ptr<AppPoolRecycler> recycler, DllLoadProbe* probe, FileSystem& files,
                JournalFile& journal, RunLogLines& log, ProbeCopy probeCopy, LoadProof& proof);
  ~RecycleSwitch() override;

  // Loads a copy of the verified DLL in a process of its own. When that process cannot be run
  // with its restrictions, the site is stopped for the exchange instead (logged).
  Verdict CanTake(HeldFile& verified, const ExchangePlan& plan) override;
  bool BeforeSwaps() override;
  bool StopsTheSite() const override { return false; }
  bool AfterSwaps(bool newSet) override;
  bool RollsBackWhenNotTaken() const override { return true; }
  void BeforeRestore() override;
  bool AfterRestore(bool allBack) override;

 private:
  LoadProbeAnswer ProbeHeldCopy(HeldFile& verified, const std::wstring& copy,
                                const std::wstring& target);
  bool RecycleAndNote();

  std::unique_ptr<AppPoolRecycler> recycler_;
  DllLoadProbe* probe_;
  FileSystem& files_;
  JournalFile& journal_;
  RunLogLines& log_;
  ProbeCopy probeCopy_;
  LoadProof& proof_;
};
