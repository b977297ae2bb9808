#pragma once
// Every fake seam the update engine reaches, wired into one EnginePlatform: the files, the
// downloader and the launcher share one timeline, so a test can check the order of events.

#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"
#include "support/FakeClock.h"
#include "support/FakeDll.h"
#include "support/FakeFileSystem.h"
#include "support/FakeHttp.h"
#include "support/FakeLoadedModules.h"
#include "support/FakeProfileReader.h"
#include "support/FakeShell.h"
#include "support/FakeTextCodec.h"
#include "support/FakeVersionReader.h"
#include "support/MemoryLogFileStore.h"

// The name the DLL arrives under, kept across attempts as the partial download.
inline const std::wstring kPartialDownload = L"C:\\korval\\Download\\KorvalAppServer.dll.teil";

struct FakeEnginePlatform {
  FakeEnginePlatform() : files(timeline), downloader(files), launcher(timeline), modules(files) {}
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
    platform.modules = &modules;
    return platform;
  }

  // The usual update: download and run log in C:\korval, the targets C:\inetpub\app1 (2.1.0.0)
  // and C:\inetpub\app2 (2.1.0.1), both holding "old", and "new", a 2.1.0.1 DLL, at
  // https://update.test/KorvalAppServer.dll.
  void ArrangeTwoTargetsAndANewerDll() {
    const std::wstring url = L"https://update.test/KorvalAppServer.dll";
    profiles.Set(L"VERZEICHNISSE", L"DOWNLOADPFAD", L"C:\\korval");
    profiles.Set(L"VERZEICHNISSE", L"PROTOKOLLPFAD", L"C:\\korval");
    profiles.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\inetpub\\app1");
    profiles.Set(L"VERZEICHNISSE", L"DLLPFAD2", L"C:\\inetpub\\app2");
    profiles.Set(L"URLS", L"KorvalAppServerDLL", url);
    for (const wchar_t* target :
         {L"C:\\inetpub\\app1\\KorvalAppServer.dll", L"C:\\inetpub\\app2\\KorvalAppServer.dll"}) {
      files.files[target] = FakeDllBytes("old");
    }
    files.folders = {L"C:", L"C:\\korval", L"C:\\inetpub", L"C:\\inetpub\\app1",
                     L"C:\\inetpub\\app2"};
    versions.Set(L"C:\\inetpub\\app1\\KorvalAppServer.dll", 2, 1, 0, 0);
    versions.Set(L"C:\\inetpub\\app2\\KorvalAppServer.dll", 2, 1, 0, 1);
    versions.Set(kPartialDownload, 2, 1, 0, 1);
    downloader.bodies[url] = FakeDllBytes("new");
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
  FakeLoadedModules modules;  // no process maps a target unless a test says so
};
