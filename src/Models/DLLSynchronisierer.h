#pragma once
// The update engine: owns the configuration and the run log, and carries every operation of the
// update cycle (version check, download, site stop, DLL exchange, site start).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Models/DLLKonfiguration.h"
#include "Models/RunLogFile.h"
#include "platform/Clock.h"

class ProfileReader;
class TextCodec;
class LogFileStore;
class HttpClientFactory;
class VersionReader;
class Downloader;
class ProcessLauncher;
class FileSystem;
class SignatureVerifier;

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

  // The run log. Never raises for errors of the file.
  void SetzeProtokollEintrag(const std::wstring& AEintrag);
  void SpeichereProtokoll();
  const std::vector<std::wstring>& ProtokollListe() const { return FProtokollListe; }

  // Every failure of a step is logged with a line that begins with "Fehler"; the cycle counts as
  // failed when such a line was logged since BeginneZyklus.
  void BeginneZyklus() { FFehlerImZyklus = false; }
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

  // --- state of the download and exchange ---
  void PruefeHeruntergeladeneDLL(const std::wstring& datei);
  void PruefeMaschinentyp(const std::string& kopf);
  void PruefeSignatur(const std::wstring& datei);
  bool BereiteDLLsVor();
  void TauscheMitWiederholung(const std::wstring& vorbereitet, const std::wstring& ziel);
  void VerwerfeVorbereiteteDLLs() noexcept;

  // Set only when the last download passed every check: the site may be stopped for it.
  bool FDownloadGeprueft = false;
  // The staged copy beside each target, in list order, made while the site still runs.
  std::vector<std::wstring> FVorbereiteteDLLs;
};
