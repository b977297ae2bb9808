// The command-line check and update over a real engine whose platform is in memory: the lines
// printed, the exit code, what is written and the cycle lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Services/AdminCommands.h"
#include "support/FakeClock.h"
#include "support/FakeCycleLock.h"
#include "support/FakeDll.h"
#include "support/FakeFileSystem.h"
#include "support/FakeHttp.h"
#include "support/FakeProfileReader.h"
#include "support/FakeShell.h"
#include "support/FakeTextCodec.h"
#include "support/FakeVersionReader.h"
#include "support/MemoryLogFileStore.h"
#include "support/RecordingConsole.h"

namespace {
using Texts = std::vector<std::wstring>;
const std::wstring kRunLog = L"C:\\korval\\Protokoll.txt";
const std::wstring kTarget1 = L"C:\\inetpub\\app1\\KorvalAppServer.dll";
const std::wstring kTarget2 = L"C:\\inetpub\\app2\\KorvalAppServer.dll";
const std::wstring kDllUrl = L"https://update.test/KorvalAppServer.dll";
const std::wstring kPruefe = L"Prüfe auf neue Version.";
const std::wstring kLese = L"Lese DLL-Version aus.";

TEST(AdminExitCodeTest, Table) {
  EXPECT_EQ(CheckExitCode(false, false), 0);
  EXPECT_EQ(CheckExitCode(true, false), 2);
  EXPECT_EQ(CheckExitCode(false, true), 1);
  EXPECT_EQ(CheckExitCode(true, true), 1);  // a partial check never claims an update is due
  EXPECT_EQ(UpdateExitCode({false, false}), 0);
  EXPECT_EQ(UpdateExitCode({true, false}), 0);
  EXPECT_EQ(UpdateExitCode({true, true}), 1);
  EXPECT_EQ(UpdateExitCode({false, true}), 1);
}

class AdminCommandsTest : public ::testing::Test {
 protected:
  AdminCommandsTest() : files_(timeline_), downloader_(files_), launcher_(timeline_) {
    profiles_.Set(L"VERZEICHNISSE", L"DOWNLOADPFAD", L"C:\\korval");
    profiles_.Set(L"VERZEICHNISSE", L"PROTOKOLLPFAD", L"C:\\korval");
    profiles_.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\inetpub\\app1");
    profiles_.Set(L"VERZEICHNISSE", L"DLLPFAD2", L"C:\\inetpub\\app2");
    profiles_.Set(L"URLS", L"KorvalAppServerDLL", kDllUrl);
    files_.files[kTarget1] = FakeDllBytes("old");
    files_.files[kTarget2] = FakeDllBytes("old");
    files_.folders = {L"C:", L"C:\\korval", L"C:\\inetpub", L"C:\\inetpub\\app1",
                      L"C:\\inetpub\\app2"};
    versions_.Set(kTarget1, 2, 1, 0, 0);
    versions_.Set(kTarget2, 2, 1, 0, 1);
    versions_.Set(L"C:\\korval\\Download\\KorvalAppServer.dll.download", 2, 1, 0, 1);
    downloader_.bodies[kDllUrl] = FakeDllBytes("new");
    clock_.Set(MakeLocalTime(2025, 6, 5, 12, 0, 5));
    platform_.programFolder = L"C:\\Programme\\KORVAL\\";
    platform_.profiles = &profiles_;
    platform_.clock = &clock_;
    platform_.codec = &codec_;
    platform_.logFiles = &logFiles_;
    platform_.http = &http_;
    platform_.versions = &versions_;
    platform_.downloader = &downloader_;
    platform_.launcher = &launcher_;
    platform_.files = &files_;
  }

  std::vector<std::wstring> timeline_;
  FakeProfileReader profiles_;
  FakeClock clock_;
  FakeTextCodec codec_;
  MemoryLogFileStore logFiles_;
  FakeHttpFactory http_;
  FakeVersionReader versions_;
  FakeFileSystem files_;
  FakeDownloader downloader_;
  FakeProcessLauncher launcher_;
  EnginePlatform platform_;
  RecordingConsole console_;
  FakeCycleLock lock_;
};

TEST_F(AdminCommandsTest, CheckPrintsEveryTargetAndTheVerdictAndWritesNothing) {
  struct Row {
    const char* body;
    int exitCode;
    Texts texts;
  };
  const std::wstring dll1 = L"DLL " + kTarget1 + L": Version ";
  const std::wstring dll2 = L"DLL " + kTarget2 + L": Version ";
  const Row rows[] = {
      {"2.1.0.1",
       2,
       {kPruefe, kLese, kLese, L"Neue Version gefunden.", L"Online-Version: 2.1.0.1",
        dll1 + L"2.1.0.0 (älter, wird ersetzt)", dll2 + L"2.1.0.1 (aktuell)",
        L"Ergebnis: Aktualisierung fällig."}},
      {"2.1.0.0",
       0,
       {kPruefe, kLese, kLese, L"Version aktuell.", L"Online-Version: 2.1.0.0",
        dll1 + L"2.1.0.0 (aktuell)", dll2 + L"2.1.0.1 (neuer, bleibt)",
        L"Ergebnis: Alle Kopien sind aktuell."}},
      {nullptr,
       1,
       {kPruefe, L"Fehler beim abfragen der aktuellen Versionsnummer: (12029) Keine Verbindung",
        kLese, L"Fehler beim prüfen auf neue Version.", L"Online-Version: nicht abrufbar",
        L"Ergebnis: Prüfung fehlgeschlagen (siehe die Zeilen mit \"Fehler\")."}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.body ? row.body : "server down");
    console_.lines.clear();
    if (row.body) {
      http_.script.Respond(200, row.body);
    } else {
      http_.script.Fail(L"(12029) Keine Verbindung");
    }
    EXPECT_EQ(RunCheckCommand(platform_, console_), row.exitCode);
    EXPECT_EQ(console_.Texts(), row.texts);
  }
  EXPECT_FALSE(logFiles_.Exists(kRunLog));
  EXPECT_TRUE(timeline_.empty());  // no file operation, no download, no site command
  EXPECT_EQ(files_.folders.count(L"C:\\korval\\Download"), 0u);
  EXPECT_TRUE(lock_.waits.empty());
}

TEST_F(AdminCommandsTest, CheckWithoutTargetsSaysSo) {
  profiles_ = FakeProfileReader();
  http_.script.Respond(200, "2.1.0.1");
  EXPECT_EQ(RunCheckCommand(platform_, console_), 0);
  EXPECT_EQ(console_.Texts(), (Texts{kPruefe, L"Version aktuell.", L"Online-Version: 2.1.0.1",
                                     L"Keine Ziel-DLL konfiguriert (DLLPFAD1 bis DLLPFAD30).",
                                     L"Ergebnis: Alle Kopien sind aktuell."}));
}

TEST_F(AdminCommandsTest, AValueThatDoesNotConvertPrintsTheStartFailureOfTheEventLog) {
  profiles_.Set(L"VERZEICHNISSE", L"UPDATEINTERVALL", L"abc");
  const Texts expected = {
      L"Service fehlgeschlagen bei start:'abc' ist kein gültiger Integerwert für Typ 'Integer'"};
  EXPECT_EQ(RunCheckCommand(platform_, console_), 1);
  EXPECT_EQ(console_.Texts(), expected);
  console_.lines.clear();
  EXPECT_EQ(RunUpdateCommand(platform_, lock_, console_), 1);
  EXPECT_EQ(console_.Texts(), expected);
  EXPECT_TRUE(lock_.waits.empty());
  EXPECT_FALSE(logFiles_.Exists(kRunLog));
}

TEST_F(AdminCommandsTest, UpdateRunsTheWholeCycleUnderTheLockAndWritesTheRunLog) {
  http_.script.Respond(200, "2.1.0.1");
  EXPECT_EQ(RunUpdateCommand(platform_, lock_, console_), 0);
  EXPECT_EQ(files_.files[kTarget1], FakeDllBytes("new"));
  EXPECT_EQ(files_.files[kTarget2], FakeDllBytes("new"));
  const Texts texts = console_.Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts.front(), kPruefe);
  EXPECT_EQ(texts[texts.size() - 2], L"Starte IIS neu.");
  EXPECT_EQ(texts.back(), L"Ergebnis: Aktualisierung ausgeführt.");
  // Every engine line is in the run log as well, in the same order.
  const std::string log = logFiles_.Contents(kRunLog);
  EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')), texts.size() - 1);
  EXPECT_EQ(lock_.waits, (std::vector<unsigned>{0}));
  EXPECT_EQ(lock_.releases, 1);
  EXPECT_FALSE(lock_.held);
}

TEST_F(AdminCommandsTest, UpdateExitsWithOneWhenAStepFails) {
  http_.script.Respond(200, "2.1.0.1");
  downloader_.bodies[kDllUrl] = "<html>nicht gefunden</html>";
  EXPECT_EQ(RunUpdateCommand(platform_, lock_, console_), 1);
  EXPECT_EQ(files_.files[kTarget1], FakeDllBytes("old"));
  EXPECT_EQ(console_.Texts().back(),
            L"Ergebnis: Fehlgeschlagen (siehe die Zeilen mit \"Fehler\").");
  EXPECT_EQ(lock_.releases, 1);
}

TEST_F(AdminCommandsTest, UpdateWaitsTenMinutesForAHeldLockThenGivesUp) {
  lock_.takenElsewhere = true;
  http_.script.Respond(200, "2.1.0.1");
  EXPECT_EQ(RunUpdateCommand(platform_, lock_, console_), 1);
  EXPECT_EQ(lock_.waits, (std::vector<unsigned>{0, 600000}));
  EXPECT_EQ(console_.Texts(),
            (Texts{L"Ein anderer Aktualisierungszyklus läuft; warte bis zu 10 Minuten.",
                   L"Abgebrochen: der andere Aktualisierungszyklus ist nicht beendet."}));
  EXPECT_FALSE(logFiles_.Exists(kRunLog));
  EXPECT_EQ(files_.files[kTarget1], FakeDllBytes("old"));
  EXPECT_EQ(lock_.releases, 0);
}
}  // namespace
