// The schedule timer's ticks on the service module: which tick runs the update cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Services/KORVAL_Update_Service.h"
#include "core/HostOffset.h"
#include "platform/OutcomeSink.h"
#include "support/FakeClock.h"
#include "support/FakeCycleLock.h"
#include "support/FakeFileSystem.h"
#include "support/FakeHttp.h"
#include "support/FakeProfileReader.h"
#include "support/FakeScheduleTimer.h"
#include "support/FakeShell.h"
#include "support/FakeTextCodec.h"
#include "support/FakeVersionReader.h"
#include "support/MemoryLogFileStore.h"

namespace {
const std::wstring kTarget = L"C:\\inetpub\\app\\KorvalAppServer.dll";

class TimerTickTest : public ::testing::Test {
 protected:
  TimerTickTest() {
    platform_.programFolder = L"C:\\Dienst\\";
    platform_.profiles = &profiles_;
    platform_.clock = &clock_;
    platform_.codec = &codec_;
    platform_.logFiles = &logFiles_;
    platform_.http = &http_;
    platform_.versions = &versions_;
    profiles_.Set(L"VERZEICHNISSE", L"DLLPFAD1", L"C:\\inetpub\\app");
    versions_.Set(kTarget, 2, 1, 0, 0);
  }

  void StartAt(int hour, int minute) {
    clock_.Set(MakeLocalTime(2025, 6, 5, hour, minute, 0));
    bool started = true;
    module_.ServiceStart(started);
  }

  // Fires one tick at the given time and answers whether it ran a version check.
  bool TickAt(int day, int hour, int minute) {
    clock_.Set(MakeLocalTime(2025, 6, day, hour, minute, 30));
    http_.script.Respond(200, "2.1.0.0");
    const std::size_t before = module_.DLLSynchronisierer()->ProtokollListe().size();
    EXPECT_TRUE(timers_.Fire());
    const auto& log = module_.DLLSynchronisierer()->ProtokollListe();
    if (log.size() == before) return false;
    EXPECT_NE(log[before].find(L": Prüfe auf neue Version."), std::wstring::npos);
    return true;
  }

  std::pair<bool, bool> Flags() const {
    return {module_.MittagsUeberpruefungAbgeschlossen(),
            module_.MitternachtsUeberpruefungAbgeschlossen()};
  }

  FakeProfileReader profiles_;
  FakeClock clock_;
  FakeTextCodec codec_;
  MemoryLogFileStore logFiles_;
  FakeHttpFactory http_;
  FakeVersionReader versions_;
  EnginePlatform platform_;
  FakeScheduleTimerFactory timers_;
  FakeCycleLock cycleLock_;
  TKORVAL_Update_Service module_{
      timers_, clock_, [this] { return std::make_unique<TDLLSynchronisierer>(platform_); },
      cycleLock_};
};

TEST_F(TimerTickTest, NormalModeChecksOnceAfterNoonAndOnceAfterMidnight) {
  StartAt(11, 0);
  EXPECT_FALSE(TickAt(5, 11, 59));
  EXPECT_TRUE(TickAt(5, 12, 0));
  EXPECT_EQ(Flags(), std::make_pair(true, false));
  EXPECT_FALSE(TickAt(5, 12, 1));
  EXPECT_FALSE(TickAt(5, 12, 59));
  EXPECT_FALSE(TickAt(5, 13, 0));
  EXPECT_FALSE(TickAt(5, 23, 59));
  EXPECT_TRUE(TickAt(6, 0, 0));
  EXPECT_EQ(Flags(), std::make_pair(false, true));
  EXPECT_FALSE(TickAt(6, 0, 30));
  EXPECT_TRUE(TickAt(6, 12, 0));
}

TEST_F(TimerTickTest, AFailedCheckStillCountsForItsWindow) {
  StartAt(12, 30);
  http_.script.Fail(L"Fehler beim Senden der Daten: (12029) Keine Verbindung");
  clock_.Set(MakeLocalTime(2025, 6, 5, 12, 30, 30));
  ASSERT_TRUE(timers_.Fire());
  EXPECT_NE(module_.DLLSynchronisierer()->ProtokollListe().back().find(
                L": Fehler beim prüfen auf neue Version."),
            std::wstring::npos);
  EXPECT_EQ(Flags(), std::make_pair(true, false));
  EXPECT_FALSE(TickAt(5, 12, 40));
}

TEST_F(TimerTickTest, TestModeChecksAtEveryTickWithoutTouchingTheFlags) {
  profiles_.Set(L"ENTWICKLUNG", L"Testmodus", L"1");
  StartAt(7, 0);
  EXPECT_TRUE(TickAt(5, 7, 2));
  EXPECT_TRUE(TickAt(5, 7, 4));
  EXPECT_TRUE(TickAt(5, 12, 0));
  EXPECT_TRUE(TickAt(5, 12, 2));
  EXPECT_EQ(Flags(), std::make_pair(false, false));
}

TEST_F(TimerTickTest, ARestartOpensTheWindowAgain) {
  StartAt(12, 0);
  EXPECT_TRUE(TickAt(5, 12, 0));
  bool stopped = true;
  module_.ServiceStop(stopped);
  StartAt(12, 40);
  EXPECT_EQ(Flags(), std::make_pair(false, false));
  EXPECT_TRUE(TickAt(5, 12, 40));
}
TEST_F(TimerTickTest, ACycleHeldElsewhereSkipsTheTickAndKeepsTheWindowOpen) {
  StartAt(11, 0);
  cycleLock_.takenElsewhere = true;
  EXPECT_FALSE(TickAt(5, 12, 0));
  EXPECT_EQ(Flags(), std::make_pair(false, false));
  ASSERT_FALSE(cycleLock_.waits.empty());
  EXPECT_LE(cycleLock_.waits.back(), 5000u);  // the service thread is never blocked for long

  cycleLock_.takenElsewhere = false;
  EXPECT_TRUE(TickAt(5, 12, 1));
  EXPECT_EQ(Flags(), std::make_pair(true, false));
  EXPECT_FALSE(cycleLock_.held);
  EXPECT_EQ(cycleLock_.releases, 1);
}

TEST_F(TimerTickTest, ALockWhoseFolderIsNotTheServicesIsOneLineAndAFailedWindow) {
  StartAt(11, 0);
  cycleLock_.unreachable = true;
  clock_.Set(MakeLocalTime(2025, 6, 5, 12, 0, 30));
  ASSERT_TRUE(timers_.Fire());
  const auto& log = module_.DLLSynchronisierer()->ProtokollListe();
  EXPECT_NE(log.back().find(L": Fehler bei der Zyklussperre: Der Ordner der Zyklussperre"),
            std::wstring::npos)
      << log.back();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::wstring& line) {
                            return line.find(L"Prüfe auf neue Version") != std::wstring::npos;
                          }),
            0);
  // It needs an administrator: the window counts as used, not retried at every tick.
  EXPECT_EQ(Flags(), std::make_pair(true, false));
  cycleLock_.unreachable = false;
  EXPECT_FALSE(TickAt(5, 12, 1));
}

// The status and the metrics: whether each cycle that ended failed.
struct CycleOutcomes : OutcomeSink {
  void Report(Outcome, const std::vector<std::wstring>&) noexcept override {}
  void CycleEnded(const CycleSummary& s) noexcept override {
    if (!s.atStart) failed.push_back(s.failed);
  }
  std::vector<bool> failed;
};

TEST_F(TimerTickTest, OnlyATickThatRunsTheCycleOrFinishesAnExchangeTakesTheLock) {
  std::vector<std::wstring> timeline;
  FakeFileSystem files(timeline);
  FakeProcessLauncher launcher(timeline);
  CycleOutcomes outcomes;
  platform_.files = &files;
  platform_.launcher = &launcher;
  platform_.outcomes = &outcomes;
  StartAt(11, 0);
  EXPECT_FALSE(TickAt(5, 11, 30));
  EXPECT_TRUE(cycleLock_.waits.empty());
  // A site left stopped (its journal unreadable): the next tick starts it, outside any window.
  files.files[L"C:\\Dienst\\Download\\Austausch.journal"] = "torn";
  launcher.siteRunning = false;
  timers_.Fire();
  EXPECT_EQ(cycleLock_.waits.size(), 1u);
  EXPECT_TRUE(launcher.siteRunning);
  EXPECT_TRUE(files.files.empty());
  EXPECT_EQ(Flags(), std::make_pair(false, false));

  // In the window, a site that will not start holds the check back: the window stays open.
  files.files[L"C:\\Dienst\\Download\\Austausch.journal"] = "torn";
  launcher.siteRunning = false;
  launcher.exitCodes[L"/c inetsrv\\appcmd start site \"Default Web Site\""] = {1, 1};
  auto tickChecks = [&](int minute) {
    const std::size_t before = module_.DLLSynchronisierer()->ProtokollListe().size();
    clock_.Set(MakeLocalTime(2025, 6, 5, 12, minute, 30));
    http_.script.Respond(200, "2.1.0.0");
    timers_.Fire();
    const auto& log = module_.DLLSynchronisierer()->ProtokollListe();
    return std::any_of(log.begin() + before, log.end(), [](const std::wstring& line) {
      return line.ends_with(L": Prüfe auf neue Version.");
    });
  };
  EXPECT_FALSE(tickChecks(0));
  EXPECT_FALSE(tickChecks(0)) << "still held back";
  EXPECT_EQ(Flags(), std::make_pair(false, false));
  EXPECT_TRUE(outcomes.failed.empty()) << "a held-back check is no failed cycle";
  EXPECT_TRUE(tickChecks(1)) << "finished, then checked in the same window";
  EXPECT_EQ(Flags(), std::make_pair(true, false));
  EXPECT_EQ(outcomes.failed, std::vector<bool>{false});
}

// The status files are written only while their folders are proven and held: the run log's at
// the start too (its own writes let it go again), and the metrics file's, whose access list is
// left to the administrator. A metrics folder that is not the service's gets no metrics, one
// failure line and its event per cycle; a missing one gets neither.
struct HeldWhileWritten : OutcomeSink {
  explicit HeldWhileWritten(FakeFileSystem& files) : files_(files) {}
  void Report(Outcome outcome, const std::vector<std::wstring>&) noexcept override {
    reported.push_back(outcome);
  }
  void CycleEnded(const CycleSummary& s) noexcept override {
    runLogFolderHeld.push_back(s.runLogFolderTrusted && files_.heldFolders.count(L"C:\\Dienst"));
    metricsWritten.push_back(!s.metricsPath.empty() && files_.heldFolders.count(L"C:\\metrics"));
  }
  FakeFileSystem& files_;
  std::vector<Outcome> reported;
  std::vector<bool> runLogFolderHeld;
  std::vector<bool> metricsWritten;
};

TEST_F(TimerTickTest, TheStatusFilesAreWrittenOnlyIntoHeldFolders) {
  const std::wstring kWhy = L"Der Ordner gehört S-1-5-21-7-7-7-1001.";
  const struct {
    const char* name;
    bool metricsFolderExists;
    std::wstring untrusted;  // why the metrics folder is not the service's
    bool metricsWritten;
  } rows[] = {
      {"a proven folder", true, L"", true},
      {"a folder not the service's", true, kWhy, false},
      {"a missing folder", false, L"", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::wstring> timeline;
    FakeFileSystem files(timeline);
    FakeProcessLauncher launcher(timeline);
    HeldWhileWritten outcomes(files);
    files.folders = {L"C:", L"C:\\Dienst"};
    if (row.metricsFolderExists) files.folders.insert(L"C:\\metrics");
    if (!row.untrusted.empty()) files.untrustedFolders[L"C:\\metrics"] = row.untrusted;
    profiles_.Set(L"UEBERWACHUNG", L"PROMETHEUSDATEI", L"C:\\metrics\\korval.prom");
    platform_.files = &files;
    platform_.launcher = &launcher;
    platform_.outcomes = &outcomes;
    StartAt(11, 0);
    EXPECT_TRUE(files.heldFolders.empty()) << "the start lets go of every folder";
    EXPECT_TRUE(TickAt(5, 12, 0));
    EXPECT_TRUE(files.heldFolders.empty()) << "the cycle lets go of every folder";

    EXPECT_EQ(outcomes.runLogFolderHeld, (std::vector<bool>{true, true}));
    EXPECT_EQ(outcomes.metricsWritten, std::vector<bool>(2, row.metricsWritten));
    const auto& log = module_.DLLSynchronisierer()->ProtokollListe();
    const long failureLines = std::count_if(log.begin(), log.end(), [&](const std::wstring& line) {
      return line.ends_with(L": Fehler beim Prüfen des Ordners C:\\metrics\\: " + kWhy);
    });
    EXPECT_EQ(failureLines, row.untrusted.empty() ? 0 : 2) << "one line at the start, one a cycle";
    EXPECT_EQ(
        std::count(outcomes.reported.begin(), outcomes.reported.end(), Outcome::FolderNotTrusted),
        failureLines);
    bool stopped = false;
    module_.ServiceStop(stopped);
    platform_.outcomes = nullptr;
  }
}
}  // namespace

namespace {
// A host's own offset places its check; ZEITFENSTER chooses the hours.
TEST_F(TimerTickTest, TheHoursAndTheHostsOffsetComeFromTheConfiguration) {
  profiles_.Set(L"ZEITPLAN", L"ZEITFENSTER", L"2");
  profiles_.Set(L"ZEITPLAN", L"STREUUNG", L"60");
  platform_.machineIdentity = L"4c4c4544-0042-3510-8052-b4c04f4b4d32";
  const std::uint32_t offset = HostOffsetSeconds(platform_.machineIdentity, 60);
  const int minute = static_cast<int>(offset / 60);
  StartAt(1, 0);
  EXPECT_FALSE(TickAt(5, 12, 0));
  if (minute > 0) EXPECT_FALSE(TickAt(5, 2, minute - 1));
  EXPECT_TRUE(TickAt(5, 2, minute + 1));
  EXPECT_FALSE(TickAt(5, 2, minute + 2));
  EXPECT_TRUE(TickAt(6, 2, minute + 1));  // one window a day, each day
  EXPECT_EQ(Flags(), std::make_pair(false, false));
}
}  // namespace
