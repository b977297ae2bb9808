// Recovery of an exchange that did not end (a crash, a power cut, a site that would not start),
// and the removal of what earlier exchanges left beside the targets.

#include <algorithm>
#include <set>

#include "Models/DLLSynchronisierer.h"
#include "platform/OutcomeSink.h"
#include "core/Exception.h"

namespace {
const wchar_t kJournalName[] = L"Austausch.journal";
const wchar_t kStagedSuffix[] = L".neu";
const wchar_t kBackupSuffix[] = L".sicherung";
const wchar_t kDiscardedSuffix[] = L".verworfen";

bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L'\\');
  return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

std::wstring FileNameOf(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L'\\');
  return end == std::wstring::npos ? path : path.substr(end + 1);
}

// "<dll>.<generation>-<n>.sicherung" gives the generation.
std::wstring GenerationOf(const std::wstring& name, const std::wstring& prefix) {
  const std::size_t dash = name.rfind(L'-');
  if (dash == std::wstring::npos || dash < prefix.size()) return L"";
  return name.substr(prefix.size(), dash - prefix.size());
}
}  // namespace

std::wstring TDLLSynchronisierer::JournalPfad() const {
  return DLLKonfiguration().Downloadpfad() + kJournalName;
}

bool TDLLSynchronisierer::AustauschOffen() {
  return platform_.files != nullptr && platform_.files->FileExists(JournalPfad());
}

bool TDLLSynchronisierer::VollendeUnterbrochenenAustausch() {
  if (platform_.files == nullptr) return true;  // an engine that never exchanges
  FileSystem& files = *platform_.files;
  std::optional<std::string> inhalt;
  try {
    inhalt = files.ReadWhole(JournalPfad());
  } catch (const Exception& e) {
    // Unreadable is not absent: treat it as a journal of which nothing could be read.
    SetzeProtokollEintrag(L"Fehler beim Lesen des Austauschjournals: " + e.Message());
    inhalt = std::string();
  }
  if (!inhalt) {
    RaeumeAuf();
    return true;
  }
  SetzeProtokollEintrag(L"Vollende unterbrochenen Austausch.");
  const JournalState zustand = ReadJournal(*inhalt);
  const RecoveryDecision entscheidung = DecideRecovery(zustand);
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
    if (entscheidung.stopSiteFirst) HalteSiteAn(FPlan.site, FPlan.pool);
    if (zustand.plan && entscheidung.restoreOld) {
      SetzeProtokollEintrag(L"Stelle den alten Stand aller DLLs wieder her.");
      fertig = StelleWiederHer(FPlan, FPlan.entries.size());
      if (fertig) VermerkeImJournal(JournalStep::RolledBack);
    } else if (zustand.plan) {
      SetzeProtokollEintrag(L"Alle DLLs sind getauscht; der neue Stand bleibt.");
    }
    // One start per tick: the next tick tries again.
    if ((entscheidung.startSite || entscheidung.stopSiteFirst) && !StarteSiteUndVermerke(1)) {
      fertig = false;
    }
  } catch (const Exception& e) {
    SetzeProtokollEintrag(L"Fehler beim Vollenden des Austauschs: " + e.Message());
    fertig = false;
  }
  if (!fertig) return false;
  SchliesseAustauschAb(zustand.plan && !entscheidung.restoreOld);
  SetzeProtokollEintrag(L"Unterbrochener Austausch vollendet.");
  ReportOutcome(platform_.outcomes, Outcome::UnfinishedExchangeFinished,
                {zustand.plan && !entscheidung.restoreOld ? L"neu" : L"alt"});
  return true;
}

// Staged copies and put-back targets of earlier exchanges go; of the backups only the newest
// generation stays. A file that a worker process still has loaded cannot be deleted and is
// tried again next time.
void TDLLSynchronisierer::RaeumeAuf() {
  FileSystem& files = *platform_.files;
  files.RemoveIfExists(DLLKonfiguration().DLLDownloadpfad() + L".download");
  std::set<std::wstring> ordner;
  for (const std::wstring& ziel : DLLKonfiguration().DLLPfadeListe()) {
    const std::wstring folder = FolderOf(ziel);
    if (!ordner.insert(folder).second) continue;
    const std::wstring prefix = FileNameOf(ziel) + L".";
    const std::vector<std::wstring> namen = files.FileNamesStartingWith(folder, prefix);
    std::wstring neueste;
    for (const std::wstring& name : namen) {
      if (EndsWith(name, kBackupSuffix)) neueste = std::max(neueste, GenerationOf(name, prefix));
    }
    for (const std::wstring& name : namen) {
      const bool alteSicherung =
          EndsWith(name, kBackupSuffix) && GenerationOf(name, prefix) != neueste;
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
