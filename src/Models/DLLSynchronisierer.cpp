// The update cycle's algorithm: each step is a unit of its own, and this file wires them and
// runs them in order.

#include "Models/DLLSynchronisierer.h"

#include "Models/AppPoolRecycler.h"
#include "Models/DownloadFolder.h"
#include "Models/ExchangeRecovery.h"
#include "Models/JournalFile.h"
#include "Models/Leftovers.h"
#include "Models/LoadProof.h"
#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "Models/ServiceRecordBook.h"
#include "Models/SignedReleases.h"
#include "Models/SiteFolders.h"
#include "Models/SiteSwitch.h"
#include "Models/StatusPageGate.h"
#include "Models/SwitchChoice.h"
#include "Models/VerifiedDownload.h"
#include "core/CaughtError.h"
#include "core/Exception.h"
#include "core/PathNames.h"
#include "core/SiteCommands.h"
#include "platform/FileSystem.h"

namespace {
const wchar_t kKonfigurationsDatei[] = L"KORVAL_Update_Service.ini";
}  // namespace

// A failing LadeFelder leaves the constructor: the members made so far are freed again and
// nothing has been logged or written.
TDLLSynchronisierer::TDLLSynchronisierer(const EnginePlatform& platform) : platform_(platform) {
  FDLLKonfiguration = std::make_unique<TDLLKonfiguration>(
      platform_.programFolder + kKonfigurationsDatei, *platform_.profiles, platform_.programFolder,
      platform_.regional.decimalSeparator);
  FDLLKonfiguration->LadeFelder();
  TDLLKonfiguration& k = *FDLLKonfiguration;
  runLog_ = std::make_unique<RunLog>(
      platform_, [&k] { return k.Protokollpfad(); }, k.ProtokollGenerationen());
  downloadFolder_ = std::make_unique<DownloadFolder>(platform_.files, k.Downloadpfad(), *runLog_,
                                                     platform_.outcomes);
  siteFolders_ = std::make_unique<SiteFolders>(platform_.files, *platform_.clock, *runLog_,
                                               platform_.outcomes);
  records_ = std::make_unique<ServiceRecordBook>(platform_, k, *downloadFolder_, *runLog_);
  releases_ = std::make_unique<SignedReleases>(platform_, k, *runLog_, *records_, *records_,
                                               *downloadFolder_);
  versionCheck_ = std::make_unique<VersionCheck>(platform_, k, *runLog_, *records_, *releases_);
  download_ =
      std::make_unique<VerifiedDownload>(platform_, k, *downloadFolder_, *runLog_, *records_);
  journal_ = std::make_unique<JournalFile>(platform_.files, JournalPfad(), *runLog_);
  site_ = std::make_unique<SiteControl>(platform_.launcher, platform_.clock,
                                        platform_.commandFolder, *runLog_);
  exchange_ = std::make_unique<DllExchange>(platform_, k, *runLog_, *journal_);
  recovery_ = std::make_unique<ExchangeRecovery>(
      platform_, k,
      ExchangeRecovery::Units{
          *runLog_, *journal_, *exchange_, *site_,
          [this] { return MakeRecycler(platform_, *runLog_, *site_); },
          [this](bool neuerStand) { SchliesseAb(neuerStand); },
          [this] { return siteFolders_->ProveAll(DLLKonfiguration().DLLPfadeListe()); }});
}

// The file keeps what the last successful write put into it.
TDLLSynchronisierer::~TDLLSynchronisierer() = default;

// --- the cycle's steps, in order ---------------------------------------------------------------

bool TDLLSynchronisierer::PruefeAufNeueVersion() { return versionCheck_->Run(); }

std::wstring TDLLSynchronisierer::GetDLLVersionsnummerOnline() {
  return versionCheck_->FetchOnline();
}

// A build that waits after it failed goes no further than its download, which tells a new build
// of the same version from it. A signed release names its build's hash before the download: the
// build that waits is told from it without downloading, and the download is checked against it.
void TDLLSynchronisierer::DownloadeDLLVonWebseite() {
  const std::optional<VerifiedRelease>& release = releases_->Current();
  if (release && records_->HoldsBackBuild(OnlineVersion(), release->release.sha256)) return;
  // The copies the update replaces: a patch may start from one of them.
  std::vector<std::wstring> ersetzt;
  for (const ZielBefund& befund : LetzterBefund()) {
    if (befund.aelter) ersetzt.push_back(befund.pfad);
  }
  download_->Fetch(OnlineVersion(), release ? &release->release : nullptr, ersetzt);
  if (!release && download_->Ready() &&
      records_->HoldsBackBuild(OnlineVersion(), download_->Sha256())) {
    download_->Release();
  }
}

void TDLLSynchronisierer::StarteIISNeu() {
  // A download that failed was logged and ends the cycle: the site keeps running.
  if (!download_->Ready()) return;
  try {
    FuehreAustauschDurch();
  } catch (...) {
    exchange_->ReleaseCopies();
    MeldeFehler(L"Fehler beim neustarten des IIS.", CaughtErrorMessage());
    ReportOutcome(platform_.outcomes, Outcome::ExchangeFailed, {L"", CaughtErrorMessage()});
    // Whatever broke, an exchange that has begun is finished now: the site must not stay down.
    if (AustauschOffen()) {
      VollendeUnterbrochenenAustausch();
    } else {
      exchange_->DiscardStaged();
    }
  }
  exchange_->ReleaseCopies();
  download_->Release();
  umschaltung_.reset();
  proof_.reset();
  siteFolders_->Release();
}

// Plan, stage and prove everything while the site still runs; write the plan; then the switch:
// only renames between taking the site off its DLLs and letting it take the new set; then the
// status page confirms the update or it goes back.
void TDLLSynchronisierer::FuehreAustauschDurch() {
  const TDLLKonfiguration& k = DLLKonfiguration();
  if (!IsSafeSiteName(k.IISSiteName())) throw Exception(L"Unzulässiger Name der IIS-Site.");
  if (!IsSafeSiteName(k.IISAppPool())) throw Exception(L"Unzulässiger Name des Anwendungspools.");
  if (!siteFolders_->ProveAll(k.DLLPfadeListe())) return;
  // A halt published while the DLL came in still stops it.
  if (!releases_->StillAllowed(ringUebergangen_)) {
    download_->Drop();
    return;
  }
  exchange_->Plan(OnlineVersion(),
                  [this](const std::wstring& version) { return releases_->Revoked(version); });
  proof_ = std::make_unique<LoadProof>(platform_.modules, *platform_.clock, *runLog_,
                                       k.DLLPfadeListe(), platform_.outcomes, OnlineVersion());
  umschaltung_ = WaehleUmschaltung(k.IISModus());
  if (!exchange_->Stage(download_->Held(), download_->Sha256())) return;
  const SiteSwitch::Verdict annahme =
      umschaltung_->CanTake(download_->Held(), exchange_->CurrentPlan());
  if (annahme == SiteSwitch::Verdict::No) {
    records_->RecordFailure(OnlineVersion(), download_->Sha256(), RejectionCause::LoadProbe);
    exchange_->DiscardStaged();
    return;
  }
  if (annahme == SiteSwitch::Verdict::NotThisWay) umschaltung_ = WaehleUmschaltung(SiteMode::Stop);
  StatusPageGate statusseite(platform_.statusHttp, *platform_.clock, k.Statusseite(),
                             k.StatusWartezeit(), *runLog_);
  statusseite.BeforeExchange();
  if (!journal_->Begin(exchange_->CurrentPlan())) {
    exchange_->DiscardStaged();
    return;
  }
  proof_->NoteOldFiles();
  if (!umschaltung_->BeforeSwaps()) {
    // Not even the stop could be launched: nothing changed, the site runs as before.
    exchange_->DiscardStaged();
    journal_->Remove();
    return;
  }
  const std::uint64_t angehalten = platform_.clock->TickMilliseconds();
  TauscheDLLsAus();
  proof_->NoteNewFiles();
  const bool neu = exchange_->Succeeded();
  if (!umschaltung_->AfterSwaps(neu)) {
    // A start that failed is tried again at every tick; a recycle that failed goes back now, and
    // its build waits.
    if (neu && umschaltung_->RollsBackWhenNotTaken()) {
      records_->RecordFailure(OnlineVersion(), download_->Sha256(), RejectionCause::Recycle);
      const std::wstring ursache = LetzteUrsache(runLog_->Lines());
      if (NimmZurueck(nullptr)) {
        // Every copy is back and the pools serve them: the exchange failed, the old set is kept.
        const std::vector<std::wstring> ziele = k.DLLPfadeListe();
        ReportOutcome(platform_.outcomes, Outcome::ExchangeFailed,
                      {ziele.empty() ? L"" : ziele.front(), ursache});
        SchliesseAb(false);
      }
    }
    return;
  }
  const std::uint64_t ausfallMs =
      umschaltung_->StopsTheSite() ? platform_.clock->TickMilliseconds() - angehalten : 0;
  if (exchange_->RollbackOpen()) {
    // The site runs with what could be had; the journal stays, and every tick goes on.
    SetzeProtokollEintrag(kRuecknahmeBleibtOffen);
    return;
  }
  if (neu) {
    if (const std::optional<std::wstring> befund = statusseite.AfterStart()) {
      if (NimmZurueckNachStatusseite(*befund, statusseite)) SchliesseAb(false);
      return;
    }
    MeldeInstalliert(ausfallMs);
  }
  SchliesseAb(neu);
}

void TDLLSynchronisierer::TauscheDLLsAus() { exchange_->SwapAll(); }

std::unique_ptr<SiteSwitch> TDLLSynchronisierer::WaehleUmschaltung(SiteMode modus) {
  return ChooseSiteSwitch(modus, {platform_, DLLKonfiguration(), *runLog_, *journal_, *site_,
                                  *proof_, download_->Sha256()});
}

// Every copy back after the site ran the new set, the journal marking the rollback first so that
// an interruption finishes it instead of keeping the new DLL; then the site takes the old set.
// A version the status page rejected is remembered and reported. Answers whether every copy is
// back and the site serves them.
bool TDLLSynchronisierer::NimmZurueck(const std::wstring* befundStatusseite) {
  SetzeProtokollEintrag(L"Nehme das Update zurück.");
  journal_->Note(JournalStep::RollbackBegun);
  umschaltung_->BeforeRestore();
  const bool alle = exchange_->RestoreAll();
  if (alle) journal_->Note(JournalStep::RolledBack);
  if (befundStatusseite) {
    records_->RecordFailure(OnlineVersion(), download_->Sha256(), RejectionCause::StatusPage);
    ReportOutcome(platform_.outcomes, Outcome::RolledBackAfterStatusPage,
                  {OnlineVersion(), *befundStatusseite});
  }
  if (!umschaltung_->AfterRestore(alle)) return false;
  if (!alle) {
    // The site runs with what could be had; the journal stays, and every tick goes on.
    SetzeProtokollEintrag(kRuecknahmeBleibtOffen);
    return false;
  }
  return true;
}

bool TDLLSynchronisierer::NimmZurueckNachStatusseite(const std::wstring& befund,
                                                     StatusPageGate& statusseite) {
  if (!NimmZurueck(&befund)) return false;
  std::wstring nachher;
  statusseite.Ask(nachher);
  SetzeProtokollEintrag(L"Statusseite nach der Rücknahme: " + nachher);
  return true;
}

void TDLLSynchronisierer::MeldeInstalliert(std::uint64_t ausfallMs) {
  installiert_ = true;
  releases_->NoteInstalled();
  if (!platform_.outcomes) return;
  std::vector<std::wstring> details{OnlineVersion()};
  for (const std::wstring& d : exchange_->InstalledDetails(OnlineVersion())) details.push_back(d);
  details.push_back(std::to_wstring(ausfallMs));
  platform_.outcomes->Report(Outcome::UpdateInstalled, details);
}

// The site runs again. A version installed and kept (on an administrator's /UPDATE, say) is no
// longer rejected.
void TDLLSynchronisierer::SchliesseAb(bool neuerStand) {
  exchange_->Finish(neuerStand);
  if (neuerStand) records_->ForgetRejected();
  RemoveLeftovers(*platform_.files, DLLKonfiguration(), *runLog_);
}

bool TDLLSynchronisierer::HalteProtokollOrdner() { return runLog_->ProveFolder(); }

std::unique_ptr<HeldFolder> TDLLSynchronisierer::HalteMetrikOrdner() {
  const std::wstring folder = FolderOf(DLLKonfiguration().PrometheusDatei());
  FileSystem* files = platform_.files;
  // A missing folder is left as the write would leave it: no metrics.
  if (folder.empty() || files == nullptr || !files->DirectoryExists(folder)) return nullptr;
  FolderCheck check = files->HoldTrustedFolder(folder);
  if (!check.held) MeldeUnsicherenOrdner(*runLog_, platform_.outcomes, folder, check.whyNot);
  return std::move(check.held);
}
