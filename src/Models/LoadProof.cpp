#include "Models/LoadProof.h"

#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "core/CaughtError.h"
#include "core/Exception.h"
#include "core/PathNames.h"
#include "platform/Clock.h"
#include "platform/LoadedModules.h"

namespace {
constexpr unsigned kLookPauseMs = 500;
}

LoadProof::LoadProof(LoadedModules* modules, Clock& clock, RunLogLines& log,
                     std::vector<std::wstring> targets, OutcomeSink* outcomes, std::wstring version)
    : modules_(modules),
      clock_(clock),
      log_(log),
      outcomes_(outcomes),
      version_(std::move(version)) {
  copies_.targets = std::move(targets);
}

// A target that cannot be opened has no identity to compare with: what is mapped under its path
// counts as old anyway.
std::vector<MappedFileId> LoadProof::Identities(const std::vector<std::wstring>& paths) {
  std::vector<MappedFileId> identities;
  if (modules_ == nullptr) return identities;
  for (const std::wstring& target : paths) {
    try {
      identities.push_back(modules_->IdentityOf(target));
    } catch (const Exception&) {
    }
  }
  return identities;
}

void LoadProof::NoteOldFiles() { copies_.oldFiles = Identities(copies_.targets); }
void LoadProof::NoteOldFiles(const std::vector<std::wstring>& paths) {
  copies_.oldFiles = Identities(paths);
}
void LoadProof::NoteNewFiles() { copies_.newFiles = Identities(copies_.targets); }

std::vector<OldCopyHolder> LoadProof::LookOnce() {
  failure_.clear();
  try {
    if (modules_ == nullptr) throw Exception(L"Die geladenen Module können nicht gelesen werden");
    const std::wstring name =
        copies_.targets.empty() ? L"KorvalAppServer.dll" : FileNameOf(copies_.targets.front());
    return ProcessesWithOldCopy(modules_->ModulesNamed(name), copies_);
  } catch (...) {
    failure_ = CaughtErrorMessage();
    return {};
  }
}

std::vector<OldCopyHolder> LoadProof::Look(unsigned waitMs) {
  const std::uint64_t end = clock_.TickMilliseconds() + waitMs;
  std::vector<OldCopyHolder> holders = LookOnce();
  while ((!holders.empty() || LookFailed()) && clock_.TickMilliseconds() < end) {
    clock_.Wait(kLookPauseMs);
    holders = LookOnce();
  }
  for (const OldCopyHolder& holder : holders) log_.Log(OldCopyLine(holder));
  return holders;
}

bool LoadProof::Prove(unsigned waitMs) {
  const std::vector<OldCopyHolder> holders = Look(waitMs);
  if (holders.empty() && !LookFailed()) return true;
  std::wstring reason = failure_;
  if (!LookFailed()) {
    reason = L"Nach " + std::to_wstring(waitMs / 1000) +
             L" Sekunden hat noch ein Prozess eine alte DLL geladen.";
  }
  return Refuse(reason, holders);
}

bool LoadProof::Refuse(const std::wstring& reason, const std::vector<OldCopyHolder>& holders) {
  log_.Fail(L"Fehler beim Nachweis der geladenen DLL.", reason);
  ReportNotInEffect(reason, holders);
  return false;
}

void LoadProof::ReportNotInEffect(const std::wstring& reason,
                                  const std::vector<OldCopyHolder>& holders) {
  std::wstring details = reason;
  for (const OldCopyHolder& holder : holders) details += L"\r\n" + OldCopyLine(holder);
  ReportOutcome(outcomes_, Outcome::OldCodeStillRuns, {version_, details});
}
