// The command-line check and update over a real engine whose platform is in memory: the lines
// printed, the exit code, what is written and the cycle lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Services/AdminCommands.h"
#include "core/HostOffset.h"
#include "core/ServiceRecords.h"
#include "support/FakeCycleLock.h"
#include "support/FakeDll.h"
#include "support/FakeEnginePlatform.h"
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

class AdminCommandsTest : public ::testing::Test, public FakeEnginePlatform {
 protected:
  AdminCommandsTest() {
    ArrangeTwoTargetsAndANewerDll();
    clock.Set(MakeLocalTime(2025, 6, 5, 12, 0, 5));
    platform_ = Platform();
  }

  EnginePlatform platform_;
  RecordingConsole console_;
  FakeCycleLock lock_;
};

const std::wstring kZeitplan =
    L"Zeitfenster: 0, 12 Uhr; Versatz dieses Rechners: 00:00 (STREUUNG 0 Minuten).";

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
       {kPruefe, kLese, kLese, L"Neue Version gefunden.", kZeitplan, L"Online-Version: 2.1.0.1",
        dll1 + L"2.1.0.0 (älter, wird ersetzt)", dll2 + L"2.1.0.1 (aktuell)",
        L"Ergebnis: Aktualisierung fällig."}},
      {"2.1.0.0",
       0,
       {kPruefe, kLese, kLese, L"Version aktuell.", kZeitplan, L"Online-Version: 2.1.0.0",
        dll1 + L"2.1.0.0 (aktuell)", dll2 + L"2.1.0.1 (neuer, bleibt)",
        L"Ergebnis: Alle Kopien sind aktuell."}},
      {nullptr,
       1,
       {kPruefe, L"Fehler beim abfragen der aktuellen Versionsnummer: (12029) Keine Verbindung",
        kLese, L"Fehler beim prüfen auf neue Version.", kZeitplan,
        L"Online-Version: nicht abrufbar",
        L"Ergebnis: Prüfung fehlgeschlagen (siehe die Zeilen mit \"Fehler\")."}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.body ? row.body : "server down");
    console_.lines.clear();
    if (row.body) {
      http.script.Respond(200, row.body);
    } else {
      http.script.Fail(L"(12029) Keine Verbindung");
    }
    EXPECT_EQ(RunCheckCommand(platform_, console_), row.exitCode);
    EXPECT_EQ(console_.Texts(), row.texts);
  }
  // A version rolled back after the status page is shown with its digest.
  files.files[L"C:\\korval\\Download\\Aufzeichnungen.txt"] =
      FormatServiceRecords({L"2.1.0.1", std::string(64, 'e')});
  console_.lines.clear();
  http.script.Respond(200, "2.1.0.1");
  EXPECT_EQ(RunCheckCommand(platform_, console_), 2);
  EXPECT_EQ(console_.Texts().back(),
            L"Zurückgenommene Version: 2.1.0.1 (SHA-256 " + std::wstring(64, L'e') +
                L"); der Dienst versucht denselben Build einen Tag nach seiner nächsten Prüfung "
                L"erneut, einen neuen Build sofort, /UPDATE versucht es noch einmal.");
  // With its history (a second failure now), the same build's retry two days later.
  ServiceRecords history{L"2.1.0.1", std::string(64, 'e')};
  history.rejectedFailures = 2;
  history.rejectedAtUnix = 1749124805;
  files.files[L"C:\\korval\\Download\\Aufzeichnungen.txt"] = FormatServiceRecords(history);
  http.script.Respond(200, "2.1.0.1");
  RunCheckCommand(platform_, console_);
  EXPECT_NE(console_.Texts().back().find(L"Build ab 6/7/2025 12:00:05 PM "), std::wstring::npos);
  EXPECT_FALSE(logFiles.Exists(kRunLog));
  EXPECT_TRUE(timeline.empty());  // no file operation, no download, no site command
  EXPECT_EQ(files.folders.count(L"C:\\korval\\Download"), 0u);
  EXPECT_TRUE(lock_.waits.empty());
}

TEST_F(AdminCommandsTest, CheckWithoutTargetsSaysSo) {
  profiles = FakeProfileReader();
  http.script.Respond(200, "2.1.0.1");
  EXPECT_EQ(RunCheckCommand(platform_, console_), 1);
  EXPECT_EQ(console_.Texts(),
            (Texts{kPruefe, L"Version aktuell.", kZeitplan, L"Online-Version: 2.1.0.1",
                   L"Keine Ziel-DLL konfiguriert (DLLPFAD1 bis DLLPFAD30).",
                   L"Ergebnis: Nichts geprüft, keine Ziel-DLL konfiguriert."}));
}

TEST_F(AdminCommandsTest, CheckShowsTheWindowsAndThisHostsOffset) {
  profiles.Set(L"ZEITPLAN", L"ZEITFENSTER", L"2;14");
  profiles.Set(L"ZEITPLAN", L"STREUUNG", L"90");
  platform_.machineIdentity = L"4c4c4544-0042-3510-8052-b4c04f4b4d32";
  http.script.Respond(200, "2.1.0.1");
  RunCheckCommand(platform_, console_);
  EXPECT_EQ(console_.Texts()[4],
            L"Zeitfenster: 2, 14 Uhr; Versatz dieses Rechners: " +
                FormatOffset(HostOffsetSeconds(platform_.machineIdentity, 90)) +
                L" (STREUUNG 90 Minuten).");
}

TEST_F(AdminCommandsTest, AValueThatDoesNotConvertPrintsTheStartFailureOfTheEventLog) {
  profiles.Set(L"VERZEICHNISSE", L"UPDATEINTERVALL", L"abc");
  const Texts expected = {
      L"Service fehlgeschlagen bei start:'abc' ist kein gültiger Integerwert für Typ 'Integer'"};
  EXPECT_EQ(RunCheckCommand(platform_, console_), 1);
  EXPECT_EQ(console_.Texts(), expected);
  console_.lines.clear();
  EXPECT_EQ(RunUpdateCommand(platform_, lock_, console_), 1);
  EXPECT_EQ(console_.Texts(), expected);
  EXPECT_TRUE(lock_.waits.empty());
  EXPECT_FALSE(logFiles.Exists(kRunLog));
}

TEST_F(AdminCommandsTest, UpdateRunsTheWholeCycleUnderTheLockAndWritesTheRunLog) {
  http.script.Respond(200, "2.1.0.1");
  EXPECT_EQ(RunUpdateCommand(platform_, lock_, console_), 0);
  EXPECT_EQ(files.files[kTarget1], FakeDllBytes("new"));
  EXPECT_EQ(files.files[kTarget2], FakeDllBytes("new"));
  const Texts texts = console_.Texts();
  ASSERT_GE(texts.size(), 3u);
  // The lock lives in the download folder, made before the lock is taken; its line stays where
  // the download makes the folder.
  EXPECT_EQ(texts.front(), kPruefe);
  EXPECT_NE(std::find(texts.begin(), texts.end(), L"Erstelle Verzeichnis \"Download\"."),
            texts.end());
  EXPECT_TRUE(lock_.claimedFolder.ends_with(L"\\Download\\")) << lock_.claimedFolder;
  EXPECT_EQ(texts[texts.size() - 2], L"Starte IIS neu.");
  EXPECT_EQ(texts.back(), L"Ergebnis: Aktualisierung ausgeführt.");
  // Every engine line is in the run log as well, in the same order.
  const std::string log = logFiles.Contents(kRunLog);
  EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')), texts.size() - 1);
  EXPECT_EQ(lock_.waits, (std::vector<unsigned>{0}));
  EXPECT_EQ(lock_.releases, 1);
  EXPECT_FALSE(lock_.held);
}

TEST_F(AdminCommandsTest, UpdateExitsWithOneWhenAStepFails) {
  http.script.Respond(200, "2.1.0.1");
  downloader.bodies[kDllUrl] = "<html>nicht gefunden</html>";
  EXPECT_EQ(RunUpdateCommand(platform_, lock_, console_), 1);
  EXPECT_EQ(files.files[kTarget1], FakeDllBytes("old"));
  EXPECT_EQ(console_.Texts().back(),
            L"Ergebnis: Fehlgeschlagen (siehe die Zeilen mit \"Fehler\").");
  EXPECT_EQ(lock_.releases, 1);
}

TEST_F(AdminCommandsTest, UpdateWaitsTenMinutesForAHeldLockThenGivesUp) {
  lock_.takenElsewhere = true;
  http.script.Respond(200, "2.1.0.1");
  EXPECT_EQ(RunUpdateCommand(platform_, lock_, console_), 1);
  EXPECT_EQ(lock_.waits, (std::vector<unsigned>{0, 600000}));
  EXPECT_EQ(console_.Texts(),
            (Texts{L"Ein anderer Aktualisierungszyklus läuft; warte bis zu 10 Minuten.",
                   L"Abgebrochen: der andere Aktualisierungszyklus ist nicht beendet."}));
  EXPECT_FALSE(logFiles.Exists(kRunLog));
  EXPECT_EQ(files.files[kTarget1], FakeDllBytes("old"));
  EXPECT_EQ(lock_.releases, 0);
}
}  // namespace
