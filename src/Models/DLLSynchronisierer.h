#pragma once
// The update engine: owns the configuration and the run log, and runs the update cycle's steps in
// order (version check, download, site stop or recycle, DLL exchange, site start, status page),
// each carried by a unit of its own.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Models/DLLKonfiguration.h"
#include "Models/DllExchange.h"
#include "Models/EnginePlatform.h"
#include "Models/SiteControl.h"
#include "Models/VersionCheck.h"
#include "core/ServiceRecords.h"

class AppPoolRecycler;
class DownloadFolder;
class HeldFolder;
class ExchangeRecovery;
class JournalFile;
class LoadProof;
class RunLog;
class ServiceRecordBook;
class SignedReleases;
struct ReleaseFreshness;
class SiteFolders;
class SiteSwitch;
class StatusPageGate;
class VerifiedDownload;

class TDLLSynchronisierer {
 public:
  // Create: builds the run log, creates the configuration on "<program folder>
  // KORVAL_Update_Service.ini" and loads it. Raises what LadeFelder raises; writes nothing.
  explicit TDLLSynchronisierer(const EnginePlatform& platform);
  // Destroy: writes nothing.
  virtual ~TDLLSynchronisierer();
  TDLLSynchronisierer(const TDLLSynchronisierer&) = delete;
  TDLLSynchronisierer& operator=(const TDLLSynchronisierer&) = delete;

  TDLLKonfiguration& DLLKonfiguration() const { return *FDLLKonfiguration; }
  const std::wstring& Maschinenkennung() const { return platform_.machineIdentity; }
  OutcomeSink* Outcomes() const { return platform_.outcomes; }

  // The run log. Never raises for errors of the file.
  void SetzeProtokollEintrag(const std::wstring& AEintrag);
  void SpeichereProtokoll();
  // Logs the failure line, then "Ursache: " and its reason.
  void MeldeFehler(const std::wstring& zeile, const std::wstring& ursache);
  const std::vector<std::wstring>& ProtokollListe() const;
  // Logs "Neuer Versuch um <time>." for a retry at the given local seconds.
  void MeldeNeuenVersuch(std::int64_t lokaleSekunden);

  // The cycle counts as failed when a line beginning with "Fehler" was logged since
  // BeginneZyklus; the failure is passing when the version could not be fetched, or the download
  // failed, was cut off or was answered with another status than 2xx.
  void BeginneZyklus();
  bool FehlerImZyklus() const;
  // An update was installed (and kept) in this cycle.
  bool InstalliertImZyklus() const { return installiert_; }
  // With a signed release, after a download in this cycle: the bytes a patch saved (0: the whole
  // DLL came).
  std::optional<std::uint64_t> PatchErsparnis() const;
  bool FehlerVoruebergehend() const;
  // Before the cycle writes anything: the run log's folder and an existing download folder get
  // the service's access list and are proven the service's all the way up, and stay held until
  // BeendeZyklus. False (logged, reported) when one is not: the cycle then ends.
  bool PruefeEigeneOrdner();
  // The run log's folder was refused in this cycle: nothing is written beside the run log.
  bool ProtokollOrdnerAbgelehnt() const;
  // Before the status is written beside the run log: its folder proven and held until
  // BeendeZyklus, also at a start, where the run log's own writes let it go again (see
  // RunLog::ProveFolder). False when it is not the service's.
  bool HalteProtokollOrdner();
  // The folder of the metrics file ("PROMETHEUSDATEI") is the administrator's choice (a node
  // exporter's textfile folder, say): its access list stays as it is, but it is proven the
  // service's all the way up and held while the result lives. Null when no metrics are to be
  // written: none configured, no folder there, or a folder that is not the service's (then
  // logged and reported).
  std::unique_ptr<HeldFolder> HalteMetrikOrdner();
  // Lets go of the folders the cycle held.
  void BeendeZyklus();

  // The version check (see VersionCheck).
  bool PruefeAufNeueVersion();
  std::wstring GetDLLVersionsnummerOnline();
  const std::wstring& OnlineVersion() const { return versionCheck_->OnlineVersion(); }
  const std::vector<ZielBefund>& LetzterBefund() const { return versionCheck_->Findings(); }

  // Download, site restart, exchange. StarteIISNeu always follows the download; after one that
  // failed its checks it does nothing.
  void DownloadeDLLVonWebseite();
  void StarteIISNeu();
  void TauscheDLLsAus();

  // See ExchangeRecovery: finishes an unfinished exchange; never raises.
  bool VollendeUnterbrochenenAustausch();
  bool AustauschOffen();
  std::wstring JournalPfad() const;

  // Gives the download folder the service's own access list and proves it the service's all the
  // way up (held until the cycle ends); logs the failure and answers false.
  bool SchuetzeDownloadOrdner();
  // The same for a download folder that exists already (at a start); nothing when it does not.
  void SchuetzeVorhandenenDownloadOrdner();
  // Before the cycle lock is taken (it lives in the download folder): makes the folder when it is
  // missing, as the download does, then protects and proves it. Logs the failure; false then.
  bool BereiteDownloadOrdnerVor();

  // The records between cycles (see ServiceRecordBook).
  void PruefeZurueckgenommeneVersion(bool updateFaellig);
  std::wstring ErneuterVersuchAb(const ServiceRecords& aufzeichnungen);
  void ErlaubeZurueckgenommeneVersion();
  std::int64_t ServerPauseBis();
  bool HaeltRingZurueck();
  void UebergeheRing();
  void NurPruefen();
  void MerkeServerAntwort(const std::wstring& url, int status, const std::wstring& retryAfter);
  ServiceRecords LadeAufzeichnungen();
  // With a release key: whether a valid timestamp is had, and how far behind this host is.
  ReleaseFreshness Releasestand(bool installiertIstAktuell) const;
  // Between the windows, with a release key: the timestamp alone (a halt drops a waiting
  // download). Nothing without a key.
  bool ZeitstempelAktiv() const;
  void PruefeZeitstempel();
  // Whether a build that was taken back waits (read without a word in the run log).
  bool ZurueckgenommenerBuildWartet() const;

 private:
  void FuehreAustauschDurch();
  std::unique_ptr<SiteSwitch> WaehleUmschaltung(SiteMode modus);
  bool NimmZurueck(const std::wstring* befundStatusseite);
  bool NimmZurueckNachStatusseite(const std::wstring& befund, StatusPageGate& statusseite);
  void MeldeInstalliert(std::uint64_t ausfallMs);
  void SchliesseAb(bool neuerStand);

  EnginePlatform platform_;
  std::unique_ptr<TDLLKonfiguration> FDLLKonfiguration;
  std::unique_ptr<RunLog> runLog_;
  std::unique_ptr<DownloadFolder> downloadFolder_;
  std::unique_ptr<SiteFolders> siteFolders_;
  std::unique_ptr<ServiceRecordBook> records_;
  std::unique_ptr<SignedReleases> releases_;
  std::unique_ptr<VersionCheck> versionCheck_;
  std::unique_ptr<VerifiedDownload> download_;
  std::unique_ptr<JournalFile> journal_;
  std::unique_ptr<SiteControl> site_;
  std::unique_ptr<DllExchange> exchange_;
  std::unique_ptr<ExchangeRecovery> recovery_;
  std::unique_ptr<LoadProof> proof_;         // set while an exchange runs
  std::unique_ptr<SiteSwitch> umschaltung_;  // likewise
  bool ringUebergangen_ = false;             // /UPDATE: no ring and no ramp
  bool installiert_ = false;                 // an update was installed since BeginneZyklus
};
