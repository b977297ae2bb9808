#include "Models/RecycleSwitch.h"

#include "Models/AppPoolRecycler.h"
#include "Models/JournalFile.h"
#include "Models/LoadProof.h"
#include "Models/RunLog.h"
#include "core/CaughtError.h"
#include "core/ExchangeJournal.h"
#include "core/PathNames.h"
#include "platform/DllLoadProbe.h"
#include "platform/FileSystem.h"

RecycleSwitch::RecycleSwitch(std::unique_ptr<AppPoolRecycler> recycler, DllLoadProbe* probe,
                             FileSystem& files, JournalFile& journal, RunLogLines& log,
                             ProbeCopy probeCopy, LoadProof& proof)
    : recycler_(std::move(recycler)),
      probe_(probe),
      files_(files),
      journal_(journal),
      log_(log),
      probeCopy_(std::move(probeCopy)),
      proof_(proof) {}

RecycleSwitch::~RecycleSwitch() = default;

// The copy lives in the protected download folder, where nobody but the service and the
// administrators can put another file in its place; it goes again whatever the probe found. A
// probe that cannot be run with its restrictions proves nothing either way: the site is stopped
// for the exchange instead, which needs no probe.
SiteSwitch::Verdict RecycleSwitch::CanTake(HeldFile& verified, const ExchangePlan& plan) {
  if (plan.entries.empty()) return Verdict::Yes;
  const std::wstring copy = probeCopy_.besideDownload + L"." + plan.generation + L"-probe.neu";
  const LoadProbeAnswer answer = ProbeHeldCopy(verified, copy, plan.entries.front().target);
  files_.RemoveIfExists(copy);
  switch (answer.kind) {
    case LoadProbeAnswer::Kind::Loaded:
      return Verdict::Yes;
    case LoadProbeAnswer::Kind::NotLoadable:
      log_.Fail(L"Fehler beim Laden der neuen DLL.", answer.reason);
      return Verdict::No;
    case LoadProbeAnswer::Kind::NotRunnable:
      break;
  }
  log_.Log(L"Wechsle auf Anhalten und Starten: " + answer.reason);
  return Verdict::NotThisWay;
}

// Held without write or delete sharing from its hash check until the probe has ended, so that
// the bytes loaded are the bytes verified; the probe searches the first target's folder for the
// DLL's dependencies, as the worker process will.
LoadProbeAnswer RecycleSwitch::ProbeHeldCopy(HeldFile& verified, const std::wstring& copy,
                                             const std::wstring& target) {
  using Kind = LoadProbeAnswer::Kind;
  try {
    if (probe_ == nullptr) return {Kind::NotRunnable, L"Keine Ladeprobe verfügbar."};
    verified.CopyDurablyTo(copy);
    files_.ProtectProbeCopy(copy);
    const std::unique_ptr<HeldFile> held = files_.HoldUnchanged(copy);
    if (held->Sha256() != probeCopy_.sha256) {
      return {Kind::NotLoadable,
              L"Die Kopie für die Ladeprobe gleicht nicht dem geprüften Download."};
    }
    return probe_->Probe(copy, FolderOf(target));
  } catch (...) {
    return {Kind::NotRunnable, CaughtErrorMessage()};
  }
}

bool RecycleSwitch::BeforeSwaps() {
  journal_.NoteRecycle();
  return true;
}

// A swap that failed has put every copy back already, and the old workers never stopped serving
// the old DLL: nothing to recycle then. The old workers end once their successors serve and
// their requests are done, within the pools' start and shutdown limits.
bool RecycleSwitch::AfterSwaps(bool newSet) {
  return !newSet || (RecycleAndNote() && proof_.Prove(recycler_->DrainWaitMs()));
}

// The copies taken back are the old ones now.
void RecycleSwitch::BeforeRestore() { proof_.NoteOldFiles(); }

// While not every copy is back the workers keep serving what they loaded. The old workers' end
// is looked for (and logged while one stays), so that the status page then judges the old set.
bool RecycleSwitch::AfterRestore(bool allBack) {
  if (!allBack) return true;
  proof_.NoteNewFiles();
  if (!RecycleAndNote()) return false;
  proof_.Look(recycler_->DrainWaitMs());
  return true;
}

bool RecycleSwitch::RecycleAndNote() {
  if (!recycler_->RecycleAll()) return false;
  journal_.Note(JournalStep::Started);
  return true;
}
