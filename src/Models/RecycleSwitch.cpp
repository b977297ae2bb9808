#include "Models/RecycleSwitch.h"

#include <optional>

#include "Models/AppPoolRecycler.h"
#include "Models/JournalFile.h"
#include "Models/RunLog.h"
#include "core/CaughtError.h"
#include "core/Exception.h"
#include "platform/DllLoadProbe.h"
#include "platform/FileSystem.h"

RecycleSwitch::RecycleSwitch(std::unique_ptr<AppPoolRecycler> recycler, DllLoadProbe* probe,
                             FileSystem& files, JournalFile& journal, RunLogLines& log)
    : recycler_(std::move(recycler)), probe_(probe), files_(files), journal_(journal), log_(log) {}

RecycleSwitch::~RecycleSwitch() = default;

// The copy sits beside the first target, so that the DLL finds its dependencies where the worker
// process will; it goes again whatever the probe found.
bool RecycleSwitch::CanTake(HeldFile& verified, const ExchangePlan& plan) {
  if (plan.entries.empty()) return true;
  const std::wstring copy = plan.entries.front().target + L"." + plan.generation + L"-probe.neu";
  std::optional<std::wstring> reason;
  try {
    if (probe_ == nullptr) throw Exception(L"Keine Ladeprobe verfügbar.");
    verified.CopyDurablyTo(copy);
    reason = probe_->WhyNotLoadable(copy);
  } catch (...) {
    reason = CaughtErrorMessage();
  }
  files_.RemoveIfExists(copy);
  if (!reason) return true;
  log_.Fail(L"Fehler beim Laden der neuen DLL.", *reason);
  return false;
}

bool RecycleSwitch::BeforeSwaps() {
  journal_.NoteRecycle();
  return true;
}

// A swap that failed has put every copy back already, and the old workers never stopped serving
// the old DLL: nothing to recycle then.
bool RecycleSwitch::AfterSwaps(bool newSet) { return !newSet || RecycleAndNote(); }

// While not every copy is back the workers keep serving what they loaded.
bool RecycleSwitch::AfterRestore(bool allBack) { return !allBack || RecycleAndNote(); }

bool RecycleSwitch::RecycleAndNote() {
  if (!recycler_->RecycleAll()) return false;
  journal_.Note(JournalStep::Started);
  return true;
}
