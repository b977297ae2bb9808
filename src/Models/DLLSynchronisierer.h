#pragma once
// The update engine: owns the configuration and the run log, and carries every operation of the
// update cycle (version check, download, site stop, DLL exchange, site start).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Models/DLLKonfiguration.h"
#include "Models/RunLogFile.h"
#include "core/DownloadGuard.h"
#include "core/ExchangeJournal.h"
#include "core/ServiceRecords.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

class ProfileReader;
class TextCodec;
class LogFileStore;
class HttpClientFactory;
class VersionReader;
class Downloader;
class ProcessLauncher;
class SignatureVerifier;
class OutcomeSink;
class CommandRunner;
class DllLoadProbe;
class AppPoolRecycler;
class HeldFile;
class EventSink;
struct OwnedFile;

// The line of a site that could not be started: a later tick finishes the exchange.
extern const wchar_t* const kStartBleibtOffen;
// The line of a rollback that could not put every copy back: a later tick finishes it.
extern const wchar_t* const kRuecknahmeBleibtOffen;

// What the last version check found for one target DLL.
struct ZielBefund {
  std::wstring pfad;
  std::wstring version;  // the product version text; empty when it could not be read
  bool aelter = false;   // older than the online version: the update replaces it
  bool neuer = false;    // newer than the online version: the update leaves it as it is
};

// Everything through which the engine reaches the operating system. Wired by the program entry;
// tests pass fakes. A seam an operation does not use may be null.
struct EnginePlatform {
  std::wstring programFolder;  // ends with a backslash
  RegionalSettings regional;   // captured once at process start
  ProfileReader* profiles = nullptr;
  Clock* clock = nullptr;
  TextCodec* codec = nullptr;
  LogFileStore* logFiles = nullptr;
  HttpClientFactory* http = nullptr;
  HttpClientFactory* statusHttp = nullptr;  // the status page's requests (short time-outs)
  VersionReader* versions = nullptr;
  Downloader* downloader = nullptr;
  ProcessLauncher* launcher = nullptr;
  FileSystem* files = nullptr;
  // Called with every run-log line as it is made (the command line echoes them); may be empty.
  std::function<void(const std::wstring&)> protokollEcho;
  // Reads the download's signature when the configuration pins signers; may be null otherwise.
  SignatureVerifier* signatures = nullptr;
  // True while a stop or shutdown request of the service waits: a running download ends early.
  // May be empty (never).
  std::function<bool()> stopRequested;
  // The machine's identity (MachineGuid, or the computer name), captured at process start; it
  // places this host's checks within their window.
  std::wstring machineIdentity;
  // Told of every outcome an administrator alerts on; may be null.
  OutcomeSink* outcomes = nullptr;
  // Read appcmd's answers and load the verified DLL once, for IISMODUS=RECYCLE; may be null
  // otherwise.
  CommandRunner* commands = nullptr;
  DllLoadProbe* loadProbe = nullptr;
  // The service's own event log entries (a run log that refuses its file); may be null.
  EventSink* events = nullptr;
  std::wstring eventSource;
  // The folder the site commands run in (the system folder, ending with a backslash).
  std::wstring commandFolder = L"c:\\Windows\\system32\\";
};

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

  // The run log. Never raises for errors of the file.
  void SetzeProtokollEintrag(const std::wstring& AEintrag);
  void SpeichereProtokoll();
  // Logs the failure line, then "Ursache: " and its reason.
  void MeldeFehler(const std::wstring& zeile, const std::wstring& ursache);
  const std::vector<std::wstring>& ProtokollListe() const { return FProtokollListe; }

  // Every failure of a step is logged with a line that begins with "Fehler"; the cycle counts as
  // failed when such a line was logged since BeginneZyklus.
  void BeginneZyklus() {
    FFehlerImZyklus = false;
    FVoruebergehend = false;
  }
  bool FehlerImZyklus() const { return FFehlerImZyklus; }

  // The version check.
  bool PruefeAufNeueVersion();
  std::wstring GetDLLVersionsnummerOnline();
  // The online version text of the last check whose fetch succeeded; empty when the last fetch
  // failed or none was made. The download accepts only a DLL of exactly this product version.
  const std::wstring& OnlineVersion() const { return FOnlineVersion; }
  // One entry per target the last check read, in list order; complete only when the check ran
  // to its verdict.
  const std::vector<ZielBefund>& LetzterBefund() const { return FLetzterBefund; }

  // Download, site restart, exchange.
  void DownloadeDLLVonWebseite();
  void StarteIISNeu();
  void TauscheDLLsAus();

  // Finishes an exchange that a crash, a power cut or a site that would not start left behind
  // (its journal is still in the download folder): every copy old or every copy new, the site
  // started, the journal and the leftovers removed, each step logged. Without a journal it only
  // removes leftovers of earlier exchanges. Answers whether no unfinished exchange is left; while
  // one is, no new exchange may begin. Never raises.
  bool VollendeUnterbrochenenAustausch();
  // Whether an unfinished exchange waits: its journal is there, or the site start after a
  // refused journal has not succeeded yet.
  bool AustauschOffen();

  // Where the engine's outcomes go; may be null.
  OutcomeSink* Outcomes() const { return platform_.outcomes; }
  // Gives the download folder the service's own access list; logs the failure and answers false.
  bool SchuetzeDownloadOrdner();
  // The same for a download folder that exists already (at a start); nothing when it does not.
  void SchuetzeVorhandenenDownloadOrdner();

  // After a check: whether the published version is one that the status page rejected after it
  // was installed (then one line says so and nothing more happens this cycle). A different
  // published version removes that record. Only with updateFaellig does it log.
  bool IstZurueckgenommen(bool updateFaellig);
  // The administrator's /UPDATE installs a rejected version once more.
  void ErlaubeZurueckgenommeneVersion() { FZurueckgenommeneErlaubt = true; }

  // --- a host in a fleet (Flottenregeln.cpp) ---
  // Whether a failure since BeginneZyklus was a passing one: the version could not be fetched,
  // or the download failed, was cut off or was answered with another status than 2xx.
  bool FehlerVoruebergehend() const { return FVoruebergehend; }
  // Unix seconds until which a server of this configuration asked to be left alone (a 429 or 503
  // with a Retry-After, kept in the download folder); 0 when none holds now.
  std::int64_t ServerPauseBis();
  // After a check that found an update: whether the update ring holds the published version
  // back (VERZOEGERUNG); logs from when it will be installed. Keeps when it was first seen.
  bool HaeltRingZurueck();
  // The administrator's /UPDATE: the ring does not hold the version back.
  void UebergeheRing() { FRingUebergehen = true; }
  // /CHECK: records are read, never written.
  void NurPruefen() { FNurPruefen = true; }
  // Logs "Neuer Versuch um <time>." for a retry at the given local seconds.
  void MeldeNeuenVersuch(std::int64_t lokaleSekunden);
  // Keeps a server's Retry-After of a 429 or 503 answer; any answer other than 2xx is passing.
  void MerkeServerAntwort(const std::wstring& url, int status, const std::wstring& retryAfter);
  // The records the service keeps; what cannot be trusted is logged as a warning and left out.
  ServiceRecords LadeAufzeichnungen();

  // Where the journal of a running exchange is kept.
  std::wstring JournalPfad() const;

 private:
  std::wstring LeseDLLVersionAus(const std::wstring& path);
  std::wstring GetDLLVersionsnummerLokal(const std::wstring& path);

  EnginePlatform platform_;
  std::vector<std::wstring> FProtokollListe;
  std::unique_ptr<TDLLKonfiguration> FDLLKonfiguration;
  RunLogFile runLogFile_;

  std::wstring FOnlineVersion;             // see OnlineVersion()
  std::vector<ZielBefund> FLetzterBefund;  // see LetzterBefund()
  bool FFehlerImZyklus = false;            // see FehlerImZyklus()

  // --- the download (DLLDownload.cpp) ---
  std::unique_ptr<HeldFile> HalteDownload(const std::wstring& datei);
  void PruefeHeruntergeladeneDLL(const std::wstring& datei, HeldFile& gehalten);
  void PruefeMaschinentyp(const std::string& kopf);
  void PruefeSignatur(const std::wstring& datei, HeldFile& gehalten);
  // Lets go of the verified download, which then takes the download's usual name.
  void GibDownloadFrei();

  // --- the exchange (DLLAustausch.cpp) ---
  void FuehreAustauschDurch();
  ExchangePlan PlaneAustausch();
  std::uint32_t NaechsteGeneration();
  void MeldeInstalliert(std::uint64_t ausfallMs);
  bool BereiteDLLsVor();
  bool BeginneJournal();
  void VermerkeImJournal(JournalStep schritt, std::size_t index = 0);
  void TauscheEinen(std::size_t n);
  bool StelleWiederHer(const ExchangePlan& plan, std::size_t anzahl);
  void BesetzeZiel(const ExchangeEntry& eintrag);
  void SchliesseAustauschAb(bool neuerStand);
  void VerwerfeVorbereiteteDLLs() noexcept;
  // Runs action, trying again for a while as long as another process holds the file.
  void MitWiederholung(const std::function<void()>& aktion);

  // --- the site commands (IISSteuerung.cpp) ---
  // Launches the stop commands and waits for each; false only when the first could not even be
  // launched (then nothing was stopped).
  bool HalteSiteAn(const std::wstring& site, const std::wstring& pool);
  // Starts pool and site, with retries when versuche > 1; true when both commands succeeded.
  bool StarteSite(const std::wstring& site, const std::wstring& pool, int versuche);
  // Starts the plan's site; notes the start in the journal, or logs that it stays stopped.
  bool StarteSiteUndVermerke(int versuche);
  static constexpr int kStartVersuche = 3;
  // Launches one start command, waits at most 60 s and answers why it failed; empty on success
  // (also when what it starts runs already).
  std::wstring FuehreBefehlAus(const std::wstring& befehl);

  // --- the status page (Statusseite.cpp) ---
  // Asks the page once; true for 2xx. befund gets the text that the run log shows.
  bool FrageStatusseite(std::wstring& befund);
  // After the start: asks until healthy or the wait time has passed; rolls the update back when
  // it does not become healthy although it was before. Answers false when the site could not be
  // started again after such a rollback (the journal then stays for the next tick).
  bool PruefeStatusNachUpdate(bool gesundVorher);
  bool NimmUpdateZurueck(const std::wstring& befundNachher);

  // --- the recycle of the site's pools instead of its stop (DLLRecycle.cpp) ---
  std::unique_ptr<AppPoolRecycler> NeuerRecycler();
  // With IISMODUS=RECYCLE: finds the pools and keeps FRecycler when this cycle recycles; logs
  // why it stops and starts the site instead.
  void WaehleRecycle();
  // Loads a copy of the verified DLL in a process of its own; false (logged) when it does not.
  bool PruefeLadbarkeit();
  void FuehreRecycleDurch(bool pruefeStatus, bool gesundVorher);
  bool NimmRecycleZurueck();
  bool NimmRecycleNachStatusseiteZurueck(const std::wstring& befundNachher);
  // Finishing a recycling exchange: the pools are recycled again (or, when they cannot be
  // found any more, the site is stopped and started).
  bool RecycleNachWiederherstellung();
  std::unique_ptr<AppPoolRecycler> FRecycler;  // set while the running exchange recycles

  // --- recovery and leftovers (Wiederherstellung.cpp) ---
  std::optional<std::wstring> JournalAblehnung(const OwnedFile& datei, const JournalState& zustand);
  bool LehneJournalAb(const std::wstring& grund);
  bool StarteNachAblehnung();
  void RaeumeAuf();

  // --- the rejected version (ZurueckgenommeneVersion.cpp) ---
  void SpeichereAufzeichnungen(const ServiceRecords& aufzeichnungen);
  void MerkeZurueckgenommeneVersion();
  void VergissZurueckgenommeneVersion();

  // The verified download, held against writers until the exchange has ended, and its SHA-256;
  // set only when the last download passed every check: the site may be stopped for it.
  std::unique_ptr<HeldFile> FGepruefteDLL;
  std::string FGepruefterHash;
  std::wstring FGepruefterPfad;  // the held download's temporary name
  unsigned FDownloadNummer = 0;
  // Each staged copy, held against writers from its hash check to its swap (plan order).
  std::vector<std::unique_ptr<HeldFile>> FGehalteneKopien;
  // The exchange being carried out, decided while the site still runs.
  ExchangePlan FPlan;
  // Per target in list order: its entry in FPlan, or -1 for a newer copy that stays.
  std::vector<int> FPlanIndex;
  // Per plan entry: the target's version before the exchange (empty when unreadable).
  std::vector<std::wstring> FAlteVersionen;
  bool FAustauschGelungen = false;
  bool FRuecknahmeOffen = false;          // a rollback could not put every copy back
  bool FStartNachAblehnungOffen = false;  // the start after a refused journal failed
  bool FZurueckgenommeneErlaubt = false;  // see ErlaubeZurueckgenommeneVersion()
  bool FVoruebergehend = false;           // see FehlerVoruebergehend()
  bool FRingUebergehen = false;           // see UebergeheRing()
  bool FNurPruefen = false;               // see NurPruefen()
  // The downloader's call; a failure of it is passing, a server's Retry-After is kept.
  void LadeHerunter(const std::wstring& url, const std::wstring& datei,
                    const DownloadLimits& limits);
  std::int64_t JetztUnix() const;
  void SpeichereInDownloadOrdner(const ServiceRecords& aufzeichnungen);
  std::wstring LokaleZeit(std::int64_t unix) const;
  bool FProtokollVerweigert = false;  // the run log's file was refused as a link
};
