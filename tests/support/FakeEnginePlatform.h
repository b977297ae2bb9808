#pragma once
// Every fake seam the update engine reaches, wired into one EnginePlatform: the files, the
// downloader and the launcher share one timeline, so a test can check the order of events.

#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"
#include "support/FakeClock.h"
#include "support/FakeFileSystem.h"
#include "support/FakeHttp.h"
#include "support/FakeProfileReader.h"
#include "support/FakeShell.h"
#include "support/FakeTextCodec.h"
#include "support/FakeVersionReader.h"
#include "support/MemoryLogFileStore.h"

struct FakeEnginePlatform {
  FakeEnginePlatform() : files(timeline), downloader(files), launcher(timeline) {}
  FakeEnginePlatform(const FakeEnginePlatform&) = delete;
  FakeEnginePlatform& operator=(const FakeEnginePlatform&) = delete;

  // Every seam above, with the program folder C:\Programme\KORVAL\.
  EnginePlatform Platform() {
    EnginePlatform platform;
    platform.programFolder = L"C:\\Programme\\KORVAL\\";
    platform.profiles = &profiles;
    platform.clock = &clock;
    platform.codec = &codec;
    platform.logFiles = &logFiles;
    platform.http = &http;
    platform.statusHttp = &statusHttp;
    platform.versions = &versions;
    platform.downloader = &downloader;
    platform.launcher = &launcher;
    platform.files = &files;
    return platform;
  }

  std::vector<std::wstring> timeline;
  FakeProfileReader profiles;
  FakeClock clock;
  FakeTextCodec codec;
  MemoryLogFileStore logFiles;
  FakeHttpFactory http;
  FakeHttpFactory statusHttp;
  FakeVersionReader versions;
  FakeFileSystem files;
  FakeDownloader downloader;
  FakeProcessLauncher launcher;
};
