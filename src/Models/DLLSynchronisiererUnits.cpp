// What the engine's callers reach of its units between and around the cycle's steps: the
// recovery of an interrupted exchange, the service's folders, the run log and the records
// between cycles. Each is a call through to the unit that owns it.

#include "Models/DLLSynchronisierer.h"
#include "Models/DownloadFolder.h"
#include "Models/ExchangeRecovery.h"
#include "Models/RunLog.h"
#include "Models/ServiceRecordBook.h"
#include "Models/SignedReleases.h"
#include "Models/SiteFolders.h"
#include "Models/VerifiedDownload.h"
#include "core/CivilTime.h"
#include "core/DateTimeFormat.h"
#include "platform/FileSystem.h"

namespace {
const wchar_t kJournalName[] = L"Austausch.journal";
}  // namespace

// --- recovery and the protected folder ---------------------------------------------------------

// The recovery changes the site folders too: they are proven first, and an exchange left in a
// folder that is not the service's stays as it is (the journal too) until it is. Without a
// journal, the cleanup proves them before it deletes anything there.
bool TDLLSynchronisierer::VollendeUnterbrochenenAustausch() {
  if (recovery_->Open() && !siteFolders_->ProveAll(DLLKonfiguration().DLLPfadeListe())) {
    return false;
  }
  const bool fertig = recovery_->Finish();
  siteFolders_->Release();
  return fertig;
}

bool TDLLSynchronisierer::AustauschOffen() { return recovery_->Open(); }

std::wstring TDLLSynchronisierer::JournalPfad() const {
  return DLLKonfiguration().Downloadpfad() + kJournalName;
}

bool TDLLSynchronisierer::SchuetzeDownloadOrdner() { return downloadFolder_->Protect(); }

void TDLLSynchronisierer::SchuetzeVorhandenenDownloadOrdner() {
  if (platform_.files != nullptr &&
      platform_.files->DirectoryExists(DLLKonfiguration().Downloadpfad())) {
    SchuetzeDownloadOrdner();
  }
}

bool TDLLSynchronisierer::BereiteDownloadOrdnerVor() { return downloadFolder_->PrepareAhead(); }

// --- the run log ------------------------------------------------------------------------------

void TDLLSynchronisierer::SetzeProtokollEintrag(const std::wstring& AEintrag) {
  runLog_->Log(AEintrag);
}

void TDLLSynchronisierer::SpeichereProtokoll() { runLog_->Save(); }

void TDLLSynchronisierer::MeldeFehler(const std::wstring& zeile, const std::wstring& ursache) {
  runLog_->Fail(zeile, ursache);
}

const std::vector<std::wstring>& TDLLSynchronisierer::ProtokollListe() const {
  return runLog_->Lines();
}

void TDLLSynchronisierer::MeldeNeuenVersuch(std::int64_t lokaleSekunden) {
  SetzeProtokollEintrag(L"Neuer Versuch um " +
                        FormatDateTime(platform_.regional.longTimePattern,
                                       TimeFromEpochSeconds(lokaleSekunden), platform_.regional) +
                        L".");
}

void TDLLSynchronisierer::BeginneZyklus() {
  runLog_->BeginCycle();
  installiert_ = false;
}

bool TDLLSynchronisierer::PruefeEigeneOrdner() {
  bool sicher = runLog_->ProveFolder();
  if (platform_.files != nullptr &&
      platform_.files->DirectoryExists(DLLKonfiguration().Downloadpfad())) {
    sicher = downloadFolder_->Protect() && sicher;
  }
  return sicher;
}

bool TDLLSynchronisierer::ProtokollOrdnerAbgelehnt() const { return runLog_->FolderRefused(); }

void TDLLSynchronisierer::BeendeZyklus() {
  runLog_->EndCycle();
  downloadFolder_->Release();
}
bool TDLLSynchronisierer::FehlerImZyklus() const { return runLog_->FailedInCycle(); }
bool TDLLSynchronisierer::FehlerVoruebergehend() const { return runLog_->PassingFailure(); }

// --- the records between cycles ---------------------------------------------------------------

void TDLLSynchronisierer::PruefeZurueckgenommeneVersion(bool updateFaellig) {
  records_->CheckRejected(OnlineVersion(), updateFaellig);
}
std::wstring TDLLSynchronisierer::ErneuterVersuchAb(const ServiceRecords& aufzeichnungen) {
  return records_->RetryTimeText(aufzeichnungen);
}
void TDLLSynchronisierer::ErlaubeZurueckgenommeneVersion() { records_->AllowRejected(); }
std::int64_t TDLLSynchronisierer::ServerPauseBis() { return records_->ServerPauseUntil(); }
// The ring first, then the rollout brake of a signed release; /UPDATE passes both, but not a halt.
bool TDLLSynchronisierer::HaeltRingZurueck() {
  return records_->RingHoldsBack(OnlineVersion()) || releases_->HoldsBack(ringUebergangen_);
}
void TDLLSynchronisierer::UebergeheRing() {
  records_->SkipRing();
  ringUebergangen_ = true;
}
ReleaseFreshness TDLLSynchronisierer::Releasestand(bool installiertIstAktuell) const {
  return releases_->Freshness(installiertIstAktuell);
}
std::optional<std::uint64_t> TDLLSynchronisierer::PatchErsparnis() const {
  return download_->PatchSaved();
}
bool TDLLSynchronisierer::ZeitstempelAktiv() const { return releases_->Active(); }
void TDLLSynchronisierer::PruefeZeitstempel() { releases_->Refresh(); }
bool TDLLSynchronisierer::ZurueckgenommenerBuildWartet() const {
  return !records_->LoadQuietly().rejectedVersion.empty();
}
void TDLLSynchronisierer::NurPruefen() { records_->OnlyRead(); }
void TDLLSynchronisierer::MerkeServerAntwort(const std::wstring& url, int status,
                                             const std::wstring& retryAfter) {
  records_->Answered(url, status, retryAfter);
}
ServiceRecords TDLLSynchronisierer::LadeAufzeichnungen() { return records_->Load(); }
