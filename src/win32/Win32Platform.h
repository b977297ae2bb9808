#pragma once
// The real seams of the engine, wired in one place: the program entry's platform, and that of
// the tools that run the engine outside the service.

#include <string>

#include "Models/DLLSynchronisierer.h"
#include "win32/AuthenticodeVerifier.h"
#include "win32/EcdsaP256.h"
#include "win32/ShellProcessLauncher.h"
#include "win32/WinHttpDownloader.h"
#include "win32/Win32Clock.h"
#include "win32/Win32CommandRunner.h"
#include "win32/Win32DllLoadProbe.h"
#include "win32/Win32EventLog.h"
#include "win32/Win32FileSystem.h"
#include "win32/Win32LoadedModules.h"
#include "win32/Win32LogFileStore.h"
#include "win32/Win32ProfileReader.h"
#include "win32/Win32TextCodec.h"
#include "win32/Win32VersionReader.h"
#include "win32/WinHttpClient.h"

class Win32Platform {
 public:
  // Captures the regional settings now: the run log keeps the formats the process started with.
  explicit Win32Platform(std::wstring programFolder);
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  EnginePlatform& Engine() { return engine_; }
  Clock& SystemClock() { return clock_; }

 private:
  Win32ProfileReader profiles_;
  Win32Clock clock_;
  Win32TextCodec codec_;
  Win32LogFileStore logFiles_;
  WinHttpClientFactory http_{HttpClientRole::VersionCheck};
  WinHttpClientFactory statusHttp_{HttpClientRole::StatusPage};
  Win32VersionReader versions_;
  WinHttpDownloader downloader_;
  ShellProcessLauncher launcher_;
  Win32FileSystem files_;
  AuthenticodeVerifier signatures_;
  CngReleaseSignatures releaseSignatures_;
  Win32CommandRunner commands_;
  Win32DllLoadProbe loadProbe_;
  Win32LoadedModules modules_;
  Win32EventLog events_;
  EnginePlatform engine_;
};
