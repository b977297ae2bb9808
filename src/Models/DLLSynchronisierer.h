#pragma once
// The update engine: owns the configuration and the run log, and carries every operation of the
// update cycle (version check, download, site stop, DLL exchange, site start).

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

  // The version check.
  bool PruefeAufNeueVersion();
  std::wstring GetDLLVersionsnummerOnline();
  // The online version text of the last check whose fetch succeeded; empty when the last fetch
  // failed or none was made. The download accepts only a DLL of exactly this product version.
  const std::wstring& OnlineVersion() const { return FOnlineVersion; }

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

  // --- state of the download and exchange (added with that work) ---
  std::wstring FOnlineVersion;  // see OnlineVersion()
};
