// IISMODUS=RECYCLE: the site is never stopped. The targets are renamed aside and replaced as in
// every exchange, then each of the site's pools is recycled: IIS starts a new worker process,
// which maps the DLL now at the path, and lets the old one finish the requests it holds. A
// failure puts every copy back and recycles again; the journal carries a mark, so that a crash
// in between is finished by a recycle too.

#include "Models/AppPoolRecycler.h"
#include "Models/DLLSynchronisierer.h"
#include "core/AppPoolRecycle.h"
#include "core/CaughtError.h"
#include "core/Exception.h"
#include "platform/DllLoadProbe.h"
#include "platform/FileSystem.h"
#include "platform/OutcomeSink.h"

std::unique_ptr<AppPoolRecycler> TDLLSynchronisierer::NeuerRecycler() {
  AppPoolRecycler::Hooks hooks;
  hooks.log = [this](const std::wstring& zeile) { SetzeProtokollEintrag(zeile); };
  hooks.fail = [this](const std::wstring& zeile, const std::wstring& ursache) {
    MeldeFehler(zeile, ursache);
  };
  hooks.execute = [this](const std::wstring& befehl) { return FuehreBefehlAus(befehl); };
  return std::make_unique<AppPoolRecycler>(platform_.commands, *platform_.clock, hooks);
}

void TDLLSynchronisierer::WaehleRecycle() {
  FRecycler.reset();
  const TDLLKonfiguration& konfiguration = DLLKonfiguration();
  if (konfiguration.IISModus() != SiteMode::Recycle) return;
  std::unique_ptr<AppPoolRecycler> recycler = NeuerRecycler();
  const ModeDecision entscheidung =
      recycler->Survey(SiteMode::Recycle, konfiguration.IISSiteName(), konfiguration.IISAppPool());
  if (!entscheidung.recycle) {
    SetzeProtokollEintrag(L"Wechsle auf Anhalten und Starten: " + entscheidung.reason);
    return;
  }
  FRecycler = std::move(recycler);
}

// The copy sits beside the first target, so that the DLL finds its dependencies where the worker
// process will; it goes again whatever the probe found.
bool TDLLSynchronisierer::PruefeLadbarkeit() {
  if (FPlan.entries.empty()) return true;
  const std::wstring kopie = FPlan.entries.front().target + L"." + FPlan.generation + L"-probe.neu";
  std::optional<std::wstring> grund;
  try {
    if (platform_.loadProbe == nullptr) throw Exception(L"Keine Ladeprobe verfügbar.");
    FGepruefteDLL->CopyDurablyTo(kopie);
    grund = platform_.loadProbe->WhyNotLoadable(kopie);
  } catch (...) {
    grund = CaughtErrorMessage();
  }
  platform_.files->RemoveIfExists(kopie);
  if (!grund) return true;
  VerwerfeVorbereiteteDLLs();
  MeldeFehler(L"Fehler beim Laden der neuen DLL.", *grund);
  return false;
}

// After the swaps: recycle, then the status page; a swap that failed has put every copy back
// already, and the old workers never stopped serving the old DLL.
void TDLLSynchronisierer::FuehreRecycleDurch(bool pruefeStatus, bool gesundVorher) {
  try {
    platform_.files->AppendDurably(JournalPfad(), EncodeJournalRecord(RecycleJournalPayload()));
  } catch (const Exception& e) {
    SetzeProtokollEintrag(L"Fehler beim Schreiben des Austauschjournals: " + e.Message());
  }
  TauscheDLLsAus();
  if (FRuecknahmeOffen) {
    // The workers keep serving what they loaded; the journal stays, and every tick goes on.
    SetzeProtokollEintrag(kRuecknahmeBleibtOffen);
    return;
  }
  if (!FAustauschGelungen) {
    SchliesseAustauschAb(false);
    return;
  }
  if (!FRecycler->RecycleAll()) {
    if (NimmRecycleZurueck()) SchliesseAustauschAb(false);
    return;
  }
  VermerkeImJournal(JournalStep::Started);
  if (pruefeStatus && !PruefeStatusNachUpdate(gesundVorher)) return;
  if (FAustauschGelungen) MeldeInstalliert(0);  // no request was refused: no downtime
  SchliesseAustauschAb(FAustauschGelungen);
}

// Every copy back, then a second recycle so that new workers map the old DLL again. False when
// that recycle failed: the journal stays and the next tick recycles once more.
bool TDLLSynchronisierer::NimmRecycleZurueck() {
  SetzeProtokollEintrag(L"Nehme das Update zurück.");
  VermerkeImJournal(JournalStep::RollbackBegun);
  const bool alle = StelleWiederHer(FPlan, FPlan.entries.size());
  if (alle) VermerkeImJournal(JournalStep::RolledBack);
  FAustauschGelungen = false;
  if (!alle) {
    SetzeProtokollEintrag(kRuecknahmeBleibtOffen);
    return false;
  }
  if (!FRecycler->RecycleAll()) return false;
  VermerkeImJournal(JournalStep::Started);
  return true;
}

// As after a stop: the rejected version is remembered and reported, and the page asked once more.
bool TDLLSynchronisierer::NimmRecycleNachStatusseiteZurueck(const std::wstring& befundNachher) {
  const bool zurueck = NimmRecycleZurueck();
  MerkeZurueckgenommeneVersion();
  if (platform_.outcomes) {
    platform_.outcomes->Report(Outcome::RolledBackAfterStatusPage, {FOnlineVersion, befundNachher});
  }
  if (!zurueck) return false;
  std::wstring befund;
  FrageStatusseite(befund);
  SetzeProtokollEintrag(L"Statusseite nach der Rücknahme: " + befund);
  return true;
}

bool TDLLSynchronisierer::RecycleNachWiederherstellung() {
  const TDLLKonfiguration& konfiguration = DLLKonfiguration();
  std::unique_ptr<AppPoolRecycler> recycler = NeuerRecycler();
  const ModeDecision entscheidung =
      recycler->Survey(SiteMode::Recycle, konfiguration.IISSiteName(), konfiguration.IISAppPool());
  if (entscheidung.recycle) return recycler->RecycleAll();
  SetzeProtokollEintrag(L"Wechsle auf Anhalten und Starten: " + entscheidung.reason);
  HalteSiteAn(konfiguration.IISSiteName(), konfiguration.IISAppPool());
  return StarteSite(konfiguration.IISSiteName(), konfiguration.IISAppPool(), 1);
}
