// Site stop, exchange of every target DLL, site start, after a download that passed its checks.
//
// One exchange is all or nothing. While the site still runs, the verified download is copied
// beside every target and the plan is written to a journal; after the stop only renames happen:
// each target is renamed aside to its backup and its staged copy takes its name, which works even
// while a worker process has the DLL loaded. When one swap fails, every target swapped so far is
// put back, so the site always starts again with a complete set, old or new.

#include <cwctype>

#include "Models/AppPoolRecycler.h"
#include "Models/DLLSynchronisierer.h"
#include "Models/OutcomeDetails.h"
#include "platform/OutcomeSink.h"
#include "core/CaughtError.h"
#include "core/DateTimeFormat.h"
#include "core/Exception.h"
#include "core/PathNames.h"
#include "core/SiteCommands.h"
#include "core/VersionCompare.h"
#include "platform/FileSystem.h"
#include "platform/OutcomeSink.h"

const wchar_t* const kRuecknahmeBleibtOffen =
    L"Die Rücknahme ist unvollständig; der nächste Timer-Tick versucht sie erneut.";

namespace {
constexpr unsigned kBusyTargetRetryMs = 30000;
constexpr unsigned kBusyTargetPauseMs = 250;

bool SamePath(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

}  // namespace

void TDLLSynchronisierer::StarteIISNeu() {
  // A download that failed was logged and ends the cycle: the site keeps running.
  if (!FGepruefteDLL) return;
  try {
    FuehreAustauschDurch();
  } catch (...) {
    FGehalteneKopien.clear();
    MeldeFehler(L"Fehler beim neustarten des IIS.", CaughtErrorMessage());
    ReportOutcome(platform_.outcomes, Outcome::ExchangeFailed, {L"", CaughtErrorMessage()});
    // Whatever broke, an exchange that has begun is finished now: the site must not stay down.
    if (AustauschOffen()) {
      VollendeUnterbrochenenAustausch();
    } else {
      VerwerfeVorbereiteteDLLs();
    }
  }
  FGehalteneKopien.clear();
  GibDownloadFrei();
  FRecycler.reset();
}

void TDLLSynchronisierer::FuehreAustauschDurch() {
  const TDLLKonfiguration& konfiguration = DLLKonfiguration();
  if (!IsSafeSiteName(konfiguration.IISSiteName())) {
    throw Exception(L"Unzulässiger Name der IIS-Site.");
  }
  if (!IsSafeSiteName(konfiguration.IISAppPool())) {
    throw Exception(L"Unzulässiger Name des Anwendungspools.");
  }
  FPlan = PlaneAustausch();
  WaehleRecycle();
  if (!BereiteDLLsVor()) return;
  if (FRecycler && !PruefeLadbarkeit()) return;
  std::wstring befund;
  const bool pruefeStatus = !konfiguration.Statusseite().empty();
  const bool gesundVorher = pruefeStatus && FrageStatusseite(befund);
  if (pruefeStatus) SetzeProtokollEintrag(L"Statusseite vor dem Austausch: " + befund);
  if (!BeginneJournal()) return;
  if (FRecycler) {
    FuehreRecycleDurch(pruefeStatus, gesundVorher);
    return;
  }
  if (!HalteSiteAn(FPlan.site, FPlan.pool)) {
    // Not even the stop could be launched: nothing changed, the site runs as before.
    VerwerfeVorbereiteteDLLs();
    platform_.files->RemoveIfExists(JournalPfad());
    return;
  }
  VermerkeImJournal(JournalStep::Stopped);
  const std::uint64_t angehalten = platform_.clock->TickMilliseconds();
  TauscheDLLsAus();
  if (!StarteSiteUndVermerke(kStartVersuche)) return;
  const std::uint64_t ausfallMs = platform_.clock->TickMilliseconds() - angehalten;
  if (FRuecknahmeOffen) {
    SetzeProtokollEintrag(kRuecknahmeBleibtOffen);
    return;
  }
  if (FAustauschGelungen && pruefeStatus && !PruefeStatusNachUpdate(gesundVorher)) return;
  if (FAustauschGelungen) MeldeInstalliert(ausfallMs);
  SchliesseAustauschAb(FAustauschGelungen);
}

void TDLLSynchronisierer::MeldeInstalliert(std::uint64_t ausfallMs) {
  if (!platform_.outcomes) return;
  std::vector<std::wstring> details{FOnlineVersion};
  for (std::size_t k = 0; k < FPlan.entries.size(); ++k) {
    details.insert(details.end(), {FPlan.entries[k].target, FAlteVersionen[k], FOnlineVersion});
  }
  details.push_back(std::to_wstring(ausfallMs));
  platform_.outcomes->Report(Outcome::UpdateInstalled, details);
}

// Decides, while the site still runs, which target gets which staged copy and backup, each from
// the target's own product version as it is now: a copy newer than the published version is
// not part of the exchange; one whose version cannot be read is replaced. A target listed again
// exists by the time its second swap comes, since its first swap creates it.
ExchangePlan TDLLSynchronisierer::PlaneAustausch() {
  const TDLLKonfiguration& konfiguration = DLLKonfiguration();
  ExchangePlan plan;
  plan.generation = MakeGeneration(NaechsteGeneration(), UtcDigits(platform_.clock->UtcNow()));
  plan.site = konfiguration.IISSiteName();
  plan.pool = konfiguration.IISAppPool();
  FPlanIndex.clear();
  FAlteVersionen.clear();
  const std::vector<std::wstring>& ziele = konfiguration.DLLPfadeListe();
  for (std::size_t i = 0; i < ziele.size(); ++i) {
    std::wstring version;
    VersionVerdict urteil;
    try {
      version = GetDLLVersionsnummerLokal(ziele[i]);
      urteil = CompareWithOnline(version, FOnlineVersion);
    } catch (...) {
      urteil = VersionVerdict{};
    }
    if (urteil.newer) {
      FPlanIndex.push_back(-1);
      continue;
    }
    bool schonGeplant = false;
    for (const ExchangeEntry& frueher : plan.entries) {
      schonGeplant = schonGeplant || SamePath(frueher.target, ziele[i]);
    }
    const std::size_t n = plan.entries.size();
    FPlanIndex.push_back(static_cast<int>(n));
    plan.entries.push_back(PlannedEntry(ziele[i], plan.generation, n,
                                        schonGeplant || platform_.files->FileExists(ziele[i])));
    FAlteVersionen.push_back(version);
  }
  return plan;
}

// One more than the highest sequence number of the backups beside every target, so that the
// newest backups sort highest even after the clock was set back.
std::uint32_t TDLLSynchronisierer::NaechsteGeneration() {
  std::uint32_t hoechste = 0;
  for (const std::wstring& ziel : DLLKonfiguration().DLLPfadeListe()) {
    const std::wstring prefix = FileNameOf(ziel) + L".";
    for (const std::wstring& name : platform_.files->FileNamesStartingWith(FolderOf(ziel), prefix)) {
      hoechste = std::max(hoechste, GenerationSequence(GenerationOfFileName(name, prefix)));
    }
  }
  return hoechste + 1;
}

// Copies the verified download beside every target while the site still runs, each flushed to
// the disk, then holds it against writers and proves by its SHA-256 that it holds the verified
// bytes; hashing here keeps the site's downtime independent of the DLL's size. A failure logs
// its target, removes what was staged and answers false: nothing is stopped and no target
// touched.
bool TDLLSynchronisierer::BereiteDLLsVor() {
  FGehalteneKopien.clear();
  for (const ExchangeEntry& eintrag : FPlan.entries) {
    try {
      FGepruefteDLL->CopyDurablyTo(eintrag.staged);
      FGehalteneKopien.push_back(platform_.files->HoldAgainstWriters(eintrag.staged));
      if (FGehalteneKopien.back()->Sha256() != FGepruefterHash) {
        throw Exception(L"Die vorbereitete Kopie " + eintrag.staged +
                        L" stimmt nicht mit der geprüften DLL überein.");
      }
    } catch (...) {
      const std::wstring ursache = CaughtErrorMessage();
      VerwerfeVorbereiteteDLLs();
      MeldeFehler(L"Fehler beim Austausch folgender DLL: " + eintrag.target, ursache);
      ReportOutcome(platform_.outcomes, Outcome::ExchangeFailed, {eintrag.target, ursache});
      return false;
    }
  }
  return true;
}

// The plan reaches the disk before the site is stopped; without it nothing is stopped.
bool TDLLSynchronisierer::BeginneJournal() {
  const std::wstring pfad = JournalPfad();
  try {
    platform_.files->RemoveIfExists(pfad);
    platform_.files->AppendDurably(pfad, EncodeJournalRecord(PlanRecord(FPlan)));
    return true;
  } catch (const Exception& e) {
    platform_.files->RemoveIfExists(pfad);
    VerwerfeVorbereiteteDLLs();
    SetzeProtokollEintrag(L"Fehler beim Schreiben des Austauschjournals: " + e.Message());
    return false;
  }
}

// A step record that cannot be written leaves the journal behind the files; a later recovery
// then undoes more than needed, which still ends in a consistent set.
void TDLLSynchronisierer::VermerkeImJournal(JournalStep schritt, std::size_t index) {
  try {
    platform_.files->AppendDurably(JournalPfad(), EncodeJournalRecord(StepRecord(schritt, index)));
  } catch (const Exception& e) {
    SetzeProtokollEintrag(L"Fehler beim Schreiben des Austauschjournals: " + e.Message());
  }
}

void TDLLSynchronisierer::TauscheDLLsAus() {
  FAustauschGelungen = false;
  FRuecknahmeOffen = false;
  const std::vector<std::wstring> ziele = DLLKonfiguration().DLLPfadeListe();
  for (std::size_t i = 0; i < ziele.size() && i < FPlanIndex.size(); ++i) {
    if (FPlanIndex[i] < 0) {
      SetzeProtokollEintrag(L"Behalte neuere DLL: " + ziele[i]);
      continue;
    }
    const std::size_t n = static_cast<std::size_t>(FPlanIndex[i]);
    try {
      TauscheEinen(n);
      VermerkeImJournal(JournalStep::Swapped, n);
      SetzeProtokollEintrag(L"Tausche folgende DLL: " + ziele[i]);
    } catch (...) {
      const std::wstring ursache = CaughtErrorMessage();
      MeldeFehler(L"Fehler beim Austausch folgender DLL: " + ziele[i], ursache);
      if (platform_.outcomes) platform_.outcomes->Report(Outcome::ExchangeFailed, {ziele[i], ursache});
      VermerkeImJournal(JournalStep::RollbackBegun);
      if (StelleWiederHer(FPlan, n + 1)) {
        VermerkeImJournal(JournalStep::RolledBack);
      } else {
        FRuecknahmeOffen = true;
      }
      return;
    }
  }
  FAustauschGelungen = true;
}

// Only a staged copy that still holds exactly the verified bytes takes the target's name: the
// copy was hashed and has been held against writers since, so its name must still lead to the
// very file held.
void TDLLSynchronisierer::TauscheEinen(std::size_t n) {
  const ExchangeEntry& eintrag = FPlan.entries[n];
  FileSystem& files = *platform_.files;
  if (n >= FGehalteneKopien.size() || !FGehalteneKopien[n]->IsAt(eintrag.staged)) {
    throw Exception(L"Die vorbereitete Kopie " + eintrag.staged +
                    L" stimmt nicht mit der geprüften DLL überein.");
  }
  if (eintrag.hadOriginal)
    MitWiederholung([&] { files.MoveAside(eintrag.target, eintrag.backup); });
  MitWiederholung([&] { files.MoveAside(eintrag.staged, eintrag.target); });
  FGehalteneKopien[n].reset();
}

// Puts the first `anzahl` entries back, the last first, judging each by the files themselves so
// that running it again after an interruption is safe. Answers whether every one succeeded. A
// target whose backup cannot take its place keeps the copy it had: it is never left missing.
bool TDLLSynchronisierer::StelleWiederHer(const ExchangePlan& plan, std::size_t anzahl) {
  FileSystem& files = *platform_.files;
  bool alle = true;
  for (std::size_t k = anzahl; k-- > 0;) {
    const ExchangeEntry& e = plan.entries[k];
    try {
      if (e.hadOriginal ? !files.FileExists(e.backup) : !files.FileExists(e.target)) continue;
      if (files.FileExists(e.target)) {
        MitWiederholung([&] { files.MoveAside(e.target, e.discarded); });
      }
      if (e.hadOriginal) MitWiederholung([&] { files.MoveAside(e.backup, e.target); });
      SetzeProtokollEintrag(L"Stelle folgende DLL wieder her: " + e.target);
    } catch (...) {
      alle = false;
      MeldeFehler(L"Fehler beim Wiederherstellen folgender DLL: " + e.target, CaughtErrorMessage());
      BesetzeZiel(e);
    }
  }
  return alle;
}

// A target left without a file (its backup could not take its place, or a swap stopped between
// its two renames) gets the copy that was there last, or else the staged one: a site may run
// with a mixed set for a while, never with a missing DLL.
void TDLLSynchronisierer::BesetzeZiel(const ExchangeEntry& e) {
  FileSystem& files = *platform_.files;
  if (!e.hadOriginal || files.FileExists(e.target)) return;
  for (const std::wstring* kandidat : {&e.discarded, &e.staged}) {
    if (!files.FileExists(*kandidat)) continue;
    try {
      MitWiederholung([&] { files.MoveAside(*kandidat, e.target); });
      return;
    } catch (...) {
      MeldeFehler(L"Fehler beim Wiederherstellen folgender DLL: " + e.target, CaughtErrorMessage());
    }
  }
}

// The site runs again: the journal goes, and with it what this exchange left beside the targets.
// After a complete exchange the backups of the first occurrence of each target stay (one
// generation); those of a target listed twice hold the new DLL and go.
void TDLLSynchronisierer::SchliesseAustauschAb(bool neuerStand) {
  FileSystem& files = *platform_.files;
  FGehalteneKopien.clear();
  files.RemoveIfExists(JournalPfad());
  for (std::size_t k = 0; k < FPlan.entries.size(); ++k) {
    const ExchangeEntry& e = FPlan.entries[k];
    files.RemoveIfExists(e.staged);
    files.RemoveIfExists(e.discarded);
    bool doppelt = false;
    for (std::size_t j = 0; j < k; ++j)
      doppelt = doppelt || SamePath(FPlan.entries[j].target, e.target);
    if (neuerStand && doppelt) files.RemoveIfExists(e.backup);
  }
  // A version installed and kept (on an administrator's /UPDATE, say) is no longer rejected.
  if (neuerStand) VergissZurueckgenommeneVersion();
  RaeumeAuf();
}

void TDLLSynchronisierer::MitWiederholung(const std::function<void()>& aktion) {
  Clock& clock = *platform_.clock;
  const auto ende = clock.TickMilliseconds() + kBusyTargetRetryMs;
  for (;;) {
    try {
      aktion();
      return;
    } catch (const FileBusyError&) {
      if (clock.TickMilliseconds() >= ende) throw;
      clock.Wait(kBusyTargetPauseMs);
    }
  }
}

void TDLLSynchronisierer::VerwerfeVorbereiteteDLLs() noexcept {
  FGehalteneKopien.clear();
  for (const ExchangeEntry& e : FPlan.entries) platform_.files->RemoveIfExists(e.staged);
}
