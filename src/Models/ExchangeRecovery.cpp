#include "Models/ExchangeRecovery.h"

#include "Models/AppPoolRecycler.h"
#include "Models/DLLKonfiguration.h"
#include "Models/DllExchange.h"
#include "Models/JournalFile.h"
#include "Models/Leftovers.h"
#include "Models/LoadProof.h"
#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "Models/SiteControl.h"
#include "Models/StopStartSwitch.h"
#include "Models/VersionCheck.h"
#include "core/AppPoolRecycle.h"
#include "core/DateTimeFormat.h"
#include "core/Exception.h"
#include "core/PathNames.h"
#include "core/ServiceFolderSecurity.h"
#include "platform/Clock.h"
#include "platform/EventSink.h"
#include "platform/FileSystem.h"

const wchar_t* const kJournalBleibt =
    L"Das Austauschjournal bleibt; der nächste Timer-Tick versucht es erneut.";

ExchangeRecovery::ExchangeRecovery(const EnginePlatform& platform,
                                   const TDLLKonfiguration& konfiguration, Units units)
    : platform_(platform), konfiguration_(konfiguration), units_(std::move(units)) {}

bool ExchangeRecovery::Open() { return startAfterRefusalOpen_ || units_.journal.Exists(); }

// It must come from the service or an administrator, and its plan must fit the configuration
// name by name.
std::optional<std::wstring> ExchangeRecovery::Refusal(const OwnedFile& file,
                                                      const JournalState& state) {
  if (file.linked) return L"Es ist ein Verweis oder hat weitere harte Links.";
  if (!IsTrustedOwner(file.ownerSid, platform_.files->OwnAccountSid())) {
    return L"Es gehört " +
           (file.ownerSid.empty() ? std::wstring(L"einem unbekannten Konto") : file.ownerSid) +
           L", weder SYSTEM, den Administratoren noch dem Konto des Dienstes.";
  }
  if (!state.plan) return std::nullopt;
  return JournalRefusal(*state.plan, {konfiguration_.IISSiteName(), konfiguration_.IISAppPool(),
                                      konfiguration_.DLLPfadeListe()});
}

// "Austausch.journal.<generation>.abgelehnt": every refused journal keeps a name of its own, so
// that a second one never takes the place of the first. Only the service's own set-aside
// journals count for the next number.
std::wstring ExchangeRecovery::RefusedJournalPath() {
  FileSystem& files = *platform_.files;
  const std::wstring& journal = units_.journal.Path();
  const std::wstring folder = FolderOf(journal), prefix = FileNameOf(journal) + L".";
  const std::wstring suffix = L".abgelehnt";
  std::uint32_t highest = 0;
  for (const std::wstring& name : files.FileNamesStartingWith(folder, prefix)) {
    if (!name.ends_with(suffix) || name.size() < prefix.size() + suffix.size()) continue;
    const std::wstring generation =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const std::uint32_t sequence = GenerationSequence(generation);
    if (sequence > highest && OwnedByServiceOrAdministrators(files, folder + name)) {
      highest = sequence;
    }
  }
  return journal + L"." +
         MakeGeneration(NextGenerationSequence(highest), UtcDigits(platform_.clock->UtcNow())) +
         suffix;
}

// The journal is set aside for the administrator (never over an earlier one), and the
// configured site is started as after a journal of which nothing was readable.
bool ExchangeRecovery::Refuse(const std::wstring& reason) {
  const std::wstring aside = RefusedJournalPath();
  try {
    platform_.files->MoveAside(units_.journal.Path(), aside);
  } catch (const Exception&) {
    units_.journal.Remove();
  }
  units_.log.Log(L"Fehler: Das Austauschjournal wurde abgelehnt: " + reason);
  if (platform_.outcomes) {
    platform_.outcomes->Report(Outcome::JournalRefused, {reason, aside});
  } else if (platform_.events) {
    platform_.events->ReportError(
        platform_.eventSource,
        L"Das Austauschjournal wurde abgelehnt und als " + aside + L" beiseitegelegt: " + reason);
  }
  startAfterRefusalOpen_ = true;
  return StartAfterRefusal();
}

bool ExchangeRecovery::StartAfterRefusal() {
  try {
    if (!units_.site.Start(konfiguration_.IISSiteName(), konfiguration_.IISAppPool(), 1)) {
      units_.log.Log(kStartBleibtOffen);
      return false;
    }
  } catch (const Exception& e) {
    units_.log.Fail(L"Fehler beim neustarten des IIS.", e.Message());
    return false;
  }
  startAfterRefusalOpen_ = false;
  return true;
}

bool ExchangeRecovery::Finish() {
  if (platform_.files == nullptr) return true;  // an engine that never exchanges
  FileSystem& files = *platform_.files;
  std::optional<OwnedFile> file;
  try {
    file = files.ReadWholeWithOwner(units_.journal.Path());
  } catch (const Exception& e) {
    // Unreadable now is neither absent nor empty: the journal stays for the next tick, no new
    // exchange begins, and the site, which it may have left stopped, is started meanwhile.
    units_.log.Log(L"Fehler beim Lesen des Austauschjournals: " + e.Message());
    StartAfterRefusal();
    units_.log.Log(kJournalBleibt);
    return false;
  }
  if (!file) {
    if (startAfterRefusalOpen_ && !StartAfterRefusal()) return false;
    RemoveLeftovers(files, konfiguration_, units_.log, units_.proveSiteFolders);
    return true;
  }
  units_.log.Log(L"Vollende unterbrochenen Austausch.");
  const JournalState state = ReadJournal(file->bytes);
  if (std::optional<std::wstring> reason = Refusal(*file, state)) {
    if (!Refuse(*reason)) return false;
    RemoveLeftovers(files, konfiguration_, units_.log);  // the site folders are held already
    return true;
  }
  // The site of a recycling exchange never stopped: its pools are recycled instead.
  return Follow(state, state.plan && JournalMarksRecycle(file->bytes));
}

bool ExchangeRecovery::Follow(const JournalState& state, bool recycle) {
  if (state.plan) {
    units_.exchange.Adopt(*state.plan);
  } else {
    // A torn plan: nothing was renamed yet, but the stop may have been launched.
    units_.exchange.Adopt({L"", konfiguration_.IISSiteName(), konfiguration_.IISAppPool(), {}});
    units_.log.Log(L"Das Austauschjournal ist unvollständig; keine DLL wurde getauscht.");
  }
  RecoveryDecision decision = DecideRecovery(state, units_.exchange.FilesOfPlan());
  if (recycle) decision.restartAfterRestore = decision.startSite = false;
  const ExchangePlan& plan = units_.exchange.CurrentPlan();
  StopStartSwitch stopStart(units_.site, units_.journal, units_.log, platform_.outcomes, plan.site,
                            plan.pool);
  bool done = true;
  try {
    if (state.plan && decision.restoreOld) {
      units_.log.Log(L"Stelle den alten Stand aller DLLs wieder her.");
      done = units_.exchange.RestoreAll();
      if (done) units_.journal.Note(JournalStep::RolledBack);
    } else if (state.plan) {
      units_.log.Log(L"Alle DLLs sind getauscht; der neue Stand bleibt.");
    }
    // A running site is restarted only once every copy is back, so that it loads the old set;
    // until then it keeps running with what it has. One start per tick: the next tick tries again.
    if (done && decision.restartAfterRestore) units_.site.Stop(plan.site, plan.pool);
    const bool start = decision.startSite || (done && decision.restartAfterRestore);
    if (start && !stopStart.StartAndNote(1)) done = false;
    if (!recycle && done && state.plan && !decision.restoreOld &&
        !RecycleOldWorkers(plan, stopStart)) {
      units_.log.Log(kJournalBleibt);
      done = false;
    }
    if (!done && state.plan && decision.restoreOld) units_.log.Log(kRuecknahmeBleibtOffen);
    if (recycle && done && !RecycleAfterRestore()) done = false;
  } catch (const Exception& e) {
    units_.log.Log(L"Fehler beim Vollenden des Austauschs: " + e.Message());
    done = false;
  }
  if (!done) return false;
  const bool newSet = state.plan && !decision.restoreOld;
  units_.close(newSet);
  units_.log.Log(L"Unterbrochener Austausch vollendet.");
  ReportOutcome(platform_.outcomes, Outcome::UnfinishedExchangeFinished,
                {newSet ? L"neu" : L"alt"});
  return true;
}

// The site keeps the new set: its workers kept what they loaded across the stop, and those still
// running a replaced copy (now a backup) are recycled. While one still maps an old copy (a pool
// that cannot be recycled, or another process that holds a backup), the update is not in effect
// (reported as after the swaps) and the journal stays: the next tick recycles and proves again.
// The new set stays on disk either way.
bool ExchangeRecovery::RecycleOldWorkers(const ExchangePlan& plan, StopStartSwitch& stopStart) {
  std::vector<std::wstring> backups;
  for (const ExchangeEntry& entry : plan.entries) backups.push_back(entry.backup);
  const std::vector<std::wstring> targets = konfiguration_.DLLPfadeListe();
  std::wstring version;  // the new set's, for the outcome; unreadable: left empty
  try {
    if (!targets.empty()) version = ProductVersionText(platform_.versions, targets.front());
  } catch (const Exception&) {
  }
  LoadProof proof(platform_.modules, *platform_.clock, units_.log, targets, platform_.outcomes,
                  version);
  proof.NoteOldFiles(backups);
  proof.NoteNewFiles();
  stopStart.ProveWith(&proof, units_.newRecycler);
  const bool inEffect = stopStart.RecycleOldWorkers(true);
  stopStart.ProveWith(nullptr, nullptr);
  return inEffect;
}

// The pools are recycled again, or, when they cannot be found any more, the site is stopped and
// started.
bool ExchangeRecovery::RecycleAfterRestore() {
  std::unique_ptr<AppPoolRecycler> recycler = units_.newRecycler();
  const ModeDecision decision = recycler->Survey(SiteMode::Recycle, konfiguration_.IISSiteName(),
                                                 konfiguration_.IISAppPool());
  if (decision.recycle) return recycler->RecycleAll();
  units_.log.Log(L"Wechsle auf Anhalten und Starten: " + decision.reason);
  units_.site.Stop(konfiguration_.IISSiteName(), konfiguration_.IISAppPool());
  return units_.site.Start(konfiguration_.IISSiteName(), konfiguration_.IISAppPool(), 1);
}
