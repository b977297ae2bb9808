// The download, the site restart and the exchange, driven through a whole update cycle with fakes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"
#include "Services/UpdateCycle.h"
#include "support/FakeClock.h"
#include "support/FakeDll.h"
#include "support/FakeFileSystem.h"
#include "support/FakeHttp.h"
#include "support/FakeProfileReader.h"
#include "support/FakeShell.h"
#include "support/FakeTextCodec.h"
#include "support/FakeVersionReader.h"
#include "support/MemoryLogFileStore.h"

namespace {
const std::wstring kDownloadFolder = L"C:\\korval\\Download\\";
const std::wstring kDownloaded = kDownloadFolder + L"KorvalAppServer.dll";
const std::wstring kTarget1 = L"C:\\inetpub\\app1\\KorvalAppServer.dll";
const std::wstring kTarget2 = L"C:\\inetpub\\app2\\KorvalAppServer.dll";
const std::wstring kDllUrl = L"https://update.test/KorvalAppServer.dll";
const std::wstring kStop = L"/c inetsrv\\appcmd stop site \"Default Web Site\"";
const std::wstring kStart = L"/c inetsrv\\appcmd start site \"Default Web Site\"";

class ExchangeTest : public ::testing::Test {
 public:
  ExchangeTest() : files(timeline), downloader(files), launcher(timeline) {
    profiles.Set(L"VERZEICHNISSE", L"DOWNLOADPFAD", L"C:\\korval");
    profiles.Set(L"VERZEICHNISSE", L"PROTOKOLLPFAD", L"C:\\korval");
    profiles.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\inetpub\\app1");
    profiles.Set(L"VERZEICHNISSE", L"DLLPFAD2", L"C:\\inetpub\\app2\\");
    profiles.Set(L"URLS", L"KorvalAppServerDLL", kDllUrl);
    files.files[kTarget1] = FakeDllBytes("old");
    files.files[kTarget2] = FakeDllBytes("old");
    files.folders = {L"C:", L"C:\\korval", L"C:\\inetpub", L"C:\\inetpub\\app1",
                     L"C:\\inetpub\\app2"};
    versions.Set(kTarget1, 2, 1, 0, 0);
    versions.Set(kTarget2, 2, 1, 0, 1);
    versions.Set(kDownloaded + L".download", 2, 1, 0, 1);
    downloader.bodies[kDllUrl] = FakeDllBytes("new");
    http.script.Respond(200, "2.1.0.1");
  }

  // Runs one update cycle on a new engine and answers the texts it logged after the check.
  std::vector<std::wstring> RunCycle() {
    EnginePlatform platform;
    platform.programFolder = L"C:\\Programme\\KORVAL\\";
    platform.profiles = &profiles;
    platform.clock = &clock;
    platform.codec = &codec;
    platform.logFiles = &logFiles;
    platform.http = &http;
    platform.versions = &versions;
    platform.downloader = &downloader;
    platform.launcher = &launcher;
    platform.files = &files;
    engine = std::make_unique<TDLLSynchronisierer>(platform);
    cycle = RunUpdateCycle(*engine);
    std::vector<std::wstring> texts;
    bool afterCheck = false;
    for (const auto& line : engine->ProtokollListe()) {
      std::wstring text = line.substr(line.find(L": ") + 2);
      if (afterCheck) texts.push_back(text);
      if (text == L"Neue Version gefunden.") afterCheck = true;
    }
    EXPECT_TRUE(afterCheck) << "the check found no newer version";
    return texts;
  }

  void ExpectTargetsUntouched() {
    EXPECT_EQ(files.files[kTarget1], FakeDllBytes("old"));
    EXPECT_EQ(files.files[kTarget2], FakeDllBytes("old"));
    EXPECT_TRUE(launcher.launches.empty());
    ExpectNoLeftovers();
  }

  // Neither staged copies nor the temporary download remain.
  void ExpectNoLeftovers() {
    for (const auto& [path, bytes] : files.files) {
      EXPECT_TRUE(path == kTarget1 || path == kTarget2 || path == kDownloaded)
          << "left: " << std::string(path.begin(), path.end());
    }
  }

  std::vector<std::wstring> timeline;
  FakeProfileReader profiles;
  FakeClock clock;
  FakeTextCodec codec;
  MemoryLogFileStore logFiles;
  FakeHttpFactory http;
  FakeVersionReader versions;
  FakeFileSystem files;
  FakeDownloader downloader;
  FakeProcessLauncher launcher;
  std::unique_ptr<TDLLSynchronisierer> engine;
  UpdateCycleResult cycle;
};

TEST_F(ExchangeTest, WholeUpdateStagesWhileTheSiteRunsAndOnlySwapsWhileItIsDown) {
  EXPECT_EQ(RunCycle(), (std::vector<std::wstring>{
                            L"Erstelle Verzeichnis \"Download\".",
                            L"Downloade DLL von der Webseite.",
                            L"Halte IIS an.",
                            L"Tausche folgende DLL: " + kTarget1,
                            L"Tausche folgende DLL: " + kTarget2,
                            L"Starte IIS neu.",
                        }));
  EXPECT_EQ(timeline, (std::vector<std::wstring>{
                          L"mkdir " + kDownloadFolder,
                          L"replace " + kDownloaded,
                          L"copy " + kTarget1 + L".neu0",
                          L"copy " + kTarget2 + L".neu1",
                          L"launch " + kStop,
                          L"wait 60000 " + kStop,
                          L"replace " + kTarget1,
                          L"replace " + kTarget2,
                          L"launch " + kStart,
                      }));
  ASSERT_EQ(launcher.launches.size(), 2u);
  for (const auto& launch : launcher.launches) {
    EXPECT_EQ(launch.verb, L"runas");
    EXPECT_EQ(launch.file, L"cmd.exe");
    EXPECT_EQ(launch.directory, L"c:\\Windows\\system32\\");
    EXPECT_EQ(launch.showCommand, 0);
  }
  EXPECT_EQ(files.files[kTarget1], FakeDllBytes("new"));
  EXPECT_EQ(files.files[kTarget2], FakeDllBytes("new"));
  EXPECT_EQ(files.files[kDownloaded], FakeDllBytes("new")) << "the download stays";
  ExpectNoLeftovers();
  EXPECT_TRUE(cycle.updateDue);
  EXPECT_FALSE(cycle.failed);
}

TEST_F(ExchangeTest, ExistingDownloadFolderIsNotCreatedAgain) {
  files.folders.insert(L"C:\\korval\\Download");
  EXPECT_EQ(RunCycle().front(), L"Downloade DLL von der Webseite.");
  EXPECT_EQ(timeline.front(), L"replace " + kDownloaded);
}

struct FailedDownloadCase {
  const char* name;
  void (*arrange)(ExchangeTest&);
  std::wstring reason;  // what follows "Fehler beim downloaden der DLL: "
};

const FailedDownloadCase kFailedDownloads[] = {
    {"an error page saved as the DLL",
     [](ExchangeTest& t) {
       t.downloader.bodies[kDllUrl] = "<html><body>404 Not Found</body></html>";
     },
     L"Die empfangene Datei ist keine DLL (" + kDllUrl + L")."},
    {"a DLL of another version",
     [](ExchangeTest& t) { t.versions.Set(kDownloaded + L".download", 2, 1, 0, 0); },
     L"Die empfangene DLL hat die Version 2.1.0.0, erwartet wurde \"2.1.0.1\"."},
    {"a DLL without a readable version",
     [](ExchangeTest& t) {
       t.versions = FakeVersionReader();
       t.versions.Set(kTarget1, 2, 1, 0, 0);
       t.versions.Set(kTarget2, 2, 1, 0, 1);
     },
     L"Die Version der empfangenen DLL kann nicht gelesen werden."},
    {"the transfer fails",
     [](ExchangeTest& t) { t.downloader.failure = L"Keine Verbindung zum Server (0x800C0004)"; },
     L"Keine Verbindung zum Server (0x800C0004)"},
    {"the folder could not be created, so nothing was saved",
     [](ExchangeTest& t) { t.files.failFolderCreation = true; },
     L"Es wurde keine Datei empfangen (" + kDllUrl + L")."},
};

TEST_F(ExchangeTest, FailedDownloadEndsTheCycleWithoutTouchingTheSite) {
  for (const auto& c : kFailedDownloads) {
    SCOPED_TRACE(c.name);
    ExchangeTest& t = *this;
    t.launcher.launches.clear();
    t.files.files.erase(kDownloaded);
    t.files.files[kDownloaded] = FakeDllBytes("previous download");
    t.downloader.failure.reset();
    t.downloader.bodies[kDllUrl] = FakeDllBytes("new");
    t.files.failFolderCreation = false;
    t.files.folders.erase(L"C:\\korval\\Download");
    t.versions.Set(kDownloaded + L".download", 2, 1, 0, 1);
    t.http.script.Respond(200, "2.1.0.1");
    c.arrange(t);
    std::vector<std::wstring> lines = RunCycle();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Fehler beim downloaden der DLL: " + c.reason);
    EXPECT_TRUE(cycle.failed);
    EXPECT_EQ(files.files[kDownloaded], FakeDllBytes("previous download"));
    ExpectTargetsUntouched();
  }
}

TEST_F(ExchangeTest, FailedFolderCreationIsLoggedAndTheDownloadStillTried) {
  files.failFolderCreation = true;
  std::vector<std::wstring> lines = RunCycle();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], L"Erstelle Verzeichnis \"Download\".");
  EXPECT_EQ(lines[1], L"Fehler beim erstellen des Verzeichnisses \"Download\".");
  EXPECT_EQ(lines[2], L"Downloade DLL von der Webseite.");
  EXPECT_EQ(downloader.requests.size(), 1u);
}

TEST_F(ExchangeTest, UnsafeSiteNameLaunchesNothing) {
  for (const std::wstring site : {L"Default\" & del C:\\*.* & \"", L"%COMSPEC%", L"Web\nSite"}) {
    profiles.Set(L"VERZEICHNISSE", L"IISSITENAME", site);
    launcher.launches.clear();
    http.script.Respond(200, "2.1.0.1");
    std::vector<std::wstring> lines = RunCycle();
    EXPECT_EQ(lines.back(), L"Fehler beim neustarten des IIS.");
    ExpectTargetsUntouched();
  }
}

TEST_F(ExchangeTest, FailedStagingStopsNothing) {
  files.failingCopyTargets.insert(kTarget2 + L".neu1");
  std::vector<std::wstring> lines = RunCycle();
  EXPECT_EQ(lines.back(), L"Fehler beim Austausch folgender DLL: " + kTarget2);
  ExpectTargetsUntouched();
}

TEST_F(ExchangeTest, TargetHeldOpenBrieflyIsRetried) {
  files.busyTargets[kTarget1] = 3;
  std::vector<std::wstring> lines = RunCycle();
  EXPECT_EQ(lines[3], L"Tausche folgende DLL: " + kTarget1);
  EXPECT_EQ(lines.back(), L"Starte IIS neu.");
  EXPECT_EQ(clock.Waits(), (std::vector<unsigned>{250, 250, 250}));
  EXPECT_EQ(files.files[kTarget1], FakeDllBytes("new"));
}

TEST_F(ExchangeTest, TargetHeldOpenForGoodFailsAfterThirtySecondsAndTheSiteStarts) {
  files.busyTargets[kTarget1] = -1;
  std::vector<std::wstring> lines = RunCycle();
  EXPECT_EQ(lines, (std::vector<std::wstring>{
                       L"Erstelle Verzeichnis \"Download\".",
                       L"Downloade DLL von der Webseite.",
                       L"Halte IIS an.",
                       L"Fehler beim Austausch folgender DLL: " + kTarget1,
                       L"Starte IIS neu.",
                   }));
  EXPECT_EQ(clock.Waits().size(), 30000u / 250u);
  EXPECT_EQ(files.files[kTarget1], FakeDllBytes("old"));
  EXPECT_EQ(files.files[kTarget2], FakeDllBytes("old")) << "later targets are not swapped";
  EXPECT_EQ(launcher.launches.back().parameters, kStart);
  ExpectNoLeftovers();
}

TEST_F(ExchangeTest, EmptyTargetListStillStopsAndStartsTheSite) {
  RunCycle();  // a check that found a newer version
  launcher.launches.clear();
  engine->DLLKonfiguration().DLLPfadeListe().clear();
  engine->DownloadeDLLVonWebseite();
  engine->StarteIISNeu();
  const auto& log = engine->ProtokollListe();
  ASSERT_GE(log.size(), 2u);
  EXPECT_NE(log[log.size() - 2].find(L": Halte IIS an."), std::wstring::npos);
  EXPECT_NE(log.back().find(L": Starte IIS neu."), std::wstring::npos);
  EXPECT_EQ(launcher.launches.size(), 2u);
}

TEST_F(ExchangeTest, TargetListedTwiceIsSwappedAndLoggedTwice) {
  profiles.Set(L"VERZEICHNISSE", L"DLLPFAD2", L"C:\\inetpub\\app1");
  std::vector<std::wstring> lines = RunCycle();
  EXPECT_EQ(lines[3], L"Tausche folgende DLL: " + kTarget1);
  EXPECT_EQ(lines[4], L"Tausche folgende DLL: " + kTarget1);
  EXPECT_EQ(files.files[kTarget1], FakeDllBytes("new"));
  ExpectNoLeftovers();
}

TEST_F(ExchangeTest, FailedStopLaunchLeavesTargetsAndLaunchesNoStart) {
  launcher.fail = true;
  std::vector<std::wstring> lines = RunCycle();
  EXPECT_EQ(lines.back(), L"Fehler beim neustarten des IIS.");
  ExpectTargetsUntouched();
}

TEST_F(ExchangeTest, StopCommandThatDoesNotEndDelaysTheSwapsAtMostSixtySeconds) {
  launcher.processEnds = false;
  std::vector<std::wstring> lines = RunCycle();
  EXPECT_EQ(lines.back(), L"Starte IIS neu.");
  EXPECT_EQ(files.files[kTarget1], FakeDllBytes("new"));
}
}  // namespace
