// Recovery of an exchange that did not end (a crash, a power cut, a site that would not start),
// and the removal of what earlier exchanges left beside the targets.

#include <algorithm>
#include <set>

#include "Models/DLLSynchronisierer.h"
#include "core/AppPoolRecycle.h"
#include "core/Exception.h"
#include "core/PathNames.h"
#include "core/ServiceFolderSecurity.h"
#include "Services/EventSink.h"
#include "platform/OutcomeSink.h"

namespace {
const wchar_t kJournalName[] = L"Austausch.journal";
const wchar_t kStagedSuffix[] = L".neu";
const wchar_t kBackupSuffix[] = L".sicherung";
const wchar_t kDiscardedSuffix[] = L".verworfen";

bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
}  // namespace

std::wstring TDLLSynchronisierer::JournalPfad() const {
  return DLLKonfiguration().Downloadpfad() + kJournalName;
}

bool TDLLSynchronisierer::AustauschOffen() {
  return FStartNachAblehnungOffen ||
         (platform_.files != nullptr && platform_.files->FileExists(JournalPfad()));
}

// Why a journal cannot be followed, or nothing: it must come from the service or an
// administrator, and its plan must fit the configuration name by name.
std::optional<std::wstring> TDLLSynchronisierer::JournalAblehnung(const OwnedFile& datei,
                                                                   const JournalState& zustand) {
  if (datei.linked) return L"Es ist ein Verweis oder hat weitere harte Links.";
  if (!IsTrustedOwner(datei.ownerSid, platform_.files->OwnAccountSid())) {
    return L"Es gehört " +
           (datei.ownerSid.empty() ? std::wstring(L"einem unbekannten Konto") : datei.ownerSid) +
           L", weder SYSTEM, den Administratoren noch dem Konto des Dienstes.";
  }
  if (!zustand.plan) return std::nullopt;
  const TDLLKonfiguration& konfiguration = DLLKonfiguration();
  return JournalRefusal(*zustand.plan, {konfiguration.IISSiteName(), konfiguration.IISAppPool(),
                                        konfiguration.DLLPfadeListe()});
}

// A journal that is not followed is set aside for the administrator; no file named in it is
// touched, and the configured site is started as after a journal of which nothing was readable.
bool TDLLSynchronisierer::LehneJournalAb(const std::wstring& grund) {
  FileSystem& files = *platform_.files;
  const std::wstring beiseite = JournalPfad() + L".abgelehnt";
  try {
    files.ReplaceWith(JournalPfad(), beiseite);
  } catch (const Exception&) {
    files.RemoveIfExists(JournalPfad());
  }
  SetzeProtokollEintrag(L"Fehler: Das Austauschjournal wurde abgelehnt: " + grund);
  if (platform_.outcomes) {
    platform_.outcomes->Report(Outcome::JournalRefused, {grund, beiseite});
  } else if (platform_.events) {
    platform_.events->ReportError(platform_.eventSource,
                                  L"Das Austauschjournal wurde abgelehnt und als " + beiseite +
                                      L" beiseitegelegt: " + grund);
  }
  FStartNachAblehnungOffen = true;
  return StarteNachAblehnung();
}

bool TDLLSynchronisierer::StarteNachAblehnung() {
  FPlan = ExchangePlan{};
  FPlan.site = DLLKonfiguration().IISSiteName();
  FPlan.pool = DLLKonfiguration().IISAppPool();
  try {
    if (!StarteSite(FPlan.site, FPlan.pool, 1)) {
      SetzeProtokollEintrag(kStartBleibtOffen);
      return false;
    }
  } catch (const Exception& e) {
    MeldeFehler(L"Fehler beim neustarten des IIS.", e.Message());
    return false;
  }
  FStartNachAblehnungOffen = false;
  return true;
}

bool TDLLSynchronisierer::VollendeUnterbrochenenAustausch() {
  if (platform_.files == nullptr) return true;  // an engine that never exchanges
  FileSystem& files = *platform_.files;
  std::optional<OwnedFile> datei;
  try {
    datei = files.ReadWholeWithOwner(JournalPfad());
  } catch (const Exception& e) {
    // Unreadable is not absent: treat it as a journal of which nothing could be read.
    SetzeProtokollEintrag(L"Fehler beim Lesen des Austauschjournals: " + e.Message());
    datei = OwnedFile{std::string(), files.OwnAccountSid(), false};
  }
  if (!datei) {
    if (FStartNachAblehnungOffen && !StarteNachAblehnung()) return false;
    RaeumeAuf();
    return true;
  }
  SetzeProtokollEintrag(L"Vollende unterbrochenen Austausch.");
  const JournalState zustand = ReadJournal(datei->bytes);
  if (std::optional<std::wstring> grund = JournalAblehnung(*datei, zustand)) {
    if (!LehneJournalAb(*grund)) return false;
    RaeumeAuf();
    return true;
  }
  RecoveryDecision entscheidung = DecideRecovery(zustand);
  // The site of a recycling exchange never stopped: its pools are recycled instead.
  const bool recycle = zustand.plan && JournalMarksRecycle(datei->bytes);
  if (recycle) entscheidung.restartAfterRestore = entscheidung.startSite = false;
  const TDLLKonfiguration& konfiguration = DLLKonfiguration();
  FPlan = zustand.plan ? *zustand.plan : ExchangePlan{};
  if (!zustand.plan) {
    // A torn plan: nothing was renamed yet, but the stop may have been launched.
    FPlan.site = konfiguration.IISSiteName();
    FPlan.pool = konfiguration.IISAppPool();
    SetzeProtokollEintrag(L"Das Austauschjournal ist unvollständig; keine DLL wurde getauscht.");
  }
  bool fertig = true;
  try {
    if (zustand.plan && entscheidung.restoreOld) {
      SetzeProtokollEintrag(L"Stelle den alten Stand aller DLLs wieder her.");
      fertig = StelleWiederHer(FPlan, FPlan.entries.size());
      if (fertig) VermerkeImJournal(JournalStep::RolledBack);
    } else if (zustand.plan) {
      SetzeProtokollEintrag(L"Alle DLLs sind getauscht; der neue Stand bleibt.");
    }
    // A running site is restarted only once every copy is back, so that it loads the old set;
    // until then it keeps running with what it has. One start per tick: the next tick tries again.
    if (fertig && entscheidung.restartAfterRestore) HalteSiteAn(FPlan.site, FPlan.pool);
    const bool starten =
        entscheidung.startSite || (fertig && entscheidung.restartAfterRestore);
    if (starten && !StarteSiteUndVermerke(1)) fertig = false;
    if (!fertig && zustand.plan && entscheidung.restoreOld) {
      SetzeProtokollEintrag(kRuecknahmeBleibtOffen);
    }
    if (recycle && fertig && !RecycleNachWiederherstellung()) fertig = false;
  } catch (const Exception& e) {
    SetzeProtokollEintrag(L"Fehler beim Vollenden des Austauschs: " + e.Message());
    fertig = false;
  }
  if (!fertig) return false;
  const bool neuerStand = zustand.plan && !entscheidung.restoreOld;
  SchliesseAustauschAb(neuerStand);
  SetzeProtokollEintrag(L"Unterbrochener Austausch vollendet.");
  if (platform_.outcomes) {
    platform_.outcomes->Report(Outcome::UnfinishedExchangeFinished,
                               {neuerStand ? L"neu" : L"alt"});
  }
  return true;
}

// Staged copies and put-back targets of earlier exchanges go; of the backups only the newest
// generation stays. A file that a worker process still has loaded cannot be deleted and is
// tried again next time.
void TDLLSynchronisierer::RaeumeAuf() {
  FileSystem& files = *platform_.files;
  files.RemoveIfExists(DLLKonfiguration().Downloadpfad() + kServiceRecordsFileName + L".neu");
  // Temporary downloads of transfers that were abandoned (one still held is tried next time).
  const std::wstring download = DLLKonfiguration().DLLDownloadpfad();
  for (const std::wstring& name :
       files.FileNamesStartingWith(FolderOf(download), FileNameOf(download) + L".")) {
    if (EndsWith(name, L".download")) files.RemoveIfExists(FolderOf(download) + name);
  }
  std::set<std::wstring> ordner;
  for (const std::wstring& ziel : DLLKonfiguration().DLLPfadeListe()) {
    const std::wstring folder = FolderOf(ziel);
    if (!ordner.insert(folder).second) continue;
    const std::wstring prefix = FileNameOf(ziel) + L".";
    const std::vector<std::wstring> namen = files.FileNamesStartingWith(folder, prefix);
    std::wstring neueste;
    for (const std::wstring& name : namen) {
      if (EndsWith(name, kBackupSuffix)) {
        neueste = std::max(neueste, GenerationSortKey(GenerationOfFileName(name, prefix)));
      }
    }
    for (const std::wstring& name : namen) {
      const bool alteSicherung =
          EndsWith(name, kBackupSuffix) &&
          GenerationSortKey(GenerationOfFileName(name, prefix)) != neueste;
      if (!alteSicherung && !EndsWith(name, kStagedSuffix) && !EndsWith(name, kDiscardedSuffix)) {
        continue;
      }
      const std::wstring pfad = folder + name;
      files.RemoveIfExists(pfad);
      if (!files.FileExists(pfad)) {
        SetzeProtokollEintrag(
            (alteSicherung ? L"Entferne alte Sicherung: " : L"Entferne Überbleibsel: ") + pfad);
      }
    }
  }
}
