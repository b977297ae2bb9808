// The fleet rules inside the engine and the service's tick: passing failures, a server's
// Retry-After kept in the download folder, the update ring, and retries within the window.
#include <gtest/gtest.h>

#include <algorithm>

#include "Services/AdminCommands.h"
#include "Services/KORVAL_Update_Service.h"
#include "Services/UpdateCycle.h"
#include "core/CivilTime.h"
#include "core/DateTimeFormat.h"
#include "platform/ConsoleOutput.h"
#include "support/FakeCycleLock.h"
#include "support/FakeEnginePlatform.h"
#include "support/FakeScheduleTimer.h"

namespace {
const std::wstring kRecords = L"C:\\korval\\Download\\Aufzeichnungen.txt";

class FleetEngineTest : public ::testing::Test, public FakeEnginePlatform {
 protected:
  FleetEngineTest() {
    ArrangeTwoTargetsAndANewerDll();
    files.folders.insert(L"C:\\korval\\Download");
    clock.Set(MakeLocalTime(2025, 6, 5, 12, 0, 5));
  }
  std::unique_ptr<TDLLSynchronisierer> Engine() {
    return std::make_unique<TDLLSynchronisierer>(Platform());
  }
  std::int64_t Now() { return EpochSeconds(clock.UtcNow()); }
  // The first download of an engine at the fake clock's time is a 2.1.0.1 DLL.
  void NewDllAtThisTime() { versions.Set(DownloadTemp(1, UtcDigits(clock.UtcNow())), 2, 1, 0, 1); }
  bool Logged(const TDLLSynchronisierer& engine, const std::wstring& text) {
    const auto& log = engine.ProtokollListe();
    return std::any_of(log.begin(), log.end(), [&](const std::wstring& line) {
      return line.find(text) != std::wstring::npos;
    });
  }
};

TEST_F(FleetEngineTest, WhichFailuresArePassing) {
  struct Row {
    const char* name;
    void (*arrange)(FleetEngineTest&);
    bool passing;
  } rows[] = {
      {"the version cannot be fetched", [](FleetEngineTest& t) { t.http.script.Fail(L"(12029)"); },
       true},
      {"the version server answers 503",
       [](FleetEngineTest& t) { t.http.script.Respond(503, "busy"); }, true},
      {"the download is cut off",
       [](FleetEngineTest& t) {
         t.http.script.Respond(200, "2.1.0.1");
         t.downloader.millisecondsPerChunk = 200000;
       },
       true},
      {"the DLL server answers 429",
       [](FleetEngineTest& t) {
         t.http.script.Respond(200, "2.1.0.1");
         t.downloader.refusal = std::make_pair(429, L"");
       },
       true},
      {"a DLL of another version is refused",
       [](FleetEngineTest& t) {
         t.http.script.Respond(200, "2.1.0.1");
         t.versions.Set(kFirstDownloadTemp, 2, 1, 0, 7);
       },
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    http.script.answers.clear();
    downloader.millisecondsPerChunk = 1;
    downloader.refusal.reset();
    versions.Set(kFirstDownloadTemp, 2, 1, 0, 1);
    row.arrange(*this);
    auto engine = Engine();
    const UpdateCycleResult result = RunUpdateCycle(*engine);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.passing, row.passing);
  }
}

TEST_F(FleetEngineTest, ARetryAfterIsKeptForItsServerAndReadBackWithSuspicion) {
  http.script.Respond(503, "busy");
  http.script.answers.back().response.retryAfter = L"600";
  auto engine = Engine();
  RunUpdateCycle(*engine);
  EXPECT_EQ(engine->ServerPauseBis(), Now() + 600);
  EXPECT_NE(files.files[kRecords].find("PAUSE_SERVER=https://update.korval.de:443"),
            std::string::npos);
  // A DLL server's date form counts too; it replaces the earlier pause.
  http.script.Respond(200, "2.1.0.1");
  downloader.refusal = std::make_pair(503, L"Thu, 05 Jun 2025 13:00:00 GMT");
  RunUpdateCycle(*engine);
  EXPECT_EQ(engine->ServerPauseBis(), Now() + 3595);
  // Another configuration's server, or a pause further ahead than a day, holds nothing.
  profiles.Set(L"URLS", L"KorvalAppServerDLL", L"https://mirror.test/KorvalAppServer.dll");
  EXPECT_EQ(Engine()->ServerPauseBis(), 0);
  files.files[kRecords] =
      "KORVAL-AUFZEICHNUNGEN 1\nPAUSE_SERVER=https://update.korval.de:443\n"
      "PAUSE_BIS=" +
      std::to_string(Now() + 90000) + "\n";
  auto planted = Engine();
  EXPECT_EQ(planted->ServerPauseBis(), 0);
  EXPECT_TRUE(Logged(*planted, L"PAUSE_BIS liegt zu weit in der Zukunft"));
}

TEST_F(FleetEngineTest, TheRingHoldsANewVersionBackUntilItWasSeenLongEnough) {
  profiles.Set(L"ZEITPLAN", L"VERZOEGERUNG", L"24");
  http.script.Respond(200, "2.1.0.1");
  auto engine = Engine();
  UpdateCycleResult result = RunUpdateCycle(*engine);
  EXPECT_TRUE(result.updateDue);
  EXPECT_FALSE(result.failed);
  EXPECT_TRUE(Logged(*engine, L"Die Version 2.1.0.1 wird ab 6/6/2025 12:00:05 PM installiert."));
  EXPECT_TRUE(launcher.launches.empty()) << "nothing stopped, nothing downloaded";
  EXPECT_TRUE(downloader.requests.empty());
  // /CHECK shows the time and writes nothing.
  const std::string kept = files.files[kRecords];
  clock.Set(MakeLocalTime(2025, 6, 6, 0, 0, 5));
  http.script.Respond(200, "2.1.0.1");
  struct Console : ConsoleOutput {
    void WriteLine(const std::wstring& line) override { lines.push_back(line); }
    std::vector<std::wstring> lines;
  } console;
  RunCheckCommand(Platform(), console);
  EXPECT_TRUE(std::any_of(console.lines.begin(), console.lines.end(), [](const std::wstring& l) {
    return l.ends_with(L": Die Version 2.1.0.1 wird ab 6/6/2025 12:00:05 PM installiert.");
  }));
  EXPECT_EQ(files.files[kRecords], kept);
  // A day after it was first seen, it is installed.
  clock.Set(MakeLocalTime(2025, 6, 6, 12, 0, 5));
  NewDllAtThisTime();
  http.script.Respond(200, "2.1.0.1");
  engine = Engine();
  result = RunUpdateCycle(*engine);
  EXPECT_FALSE(result.failed);
  EXPECT_FALSE(launcher.launches.empty());
}

TEST_F(FleetEngineTest, TheServiceRetriesWithinTheWindowAndNeverBeforeTheServersPause) {
  profiles.Set(L"ZEITPLAN", L"WIEDERHOLUNGEN", L"2");
  FakeScheduleTimerFactory timers;
  FakeCycleLock lock;
  EnginePlatform platform = Platform();
  TKORVAL_Update_Service module(
      timers, clock, [&] { return std::make_unique<TDLLSynchronisierer>(platform); }, lock);
  clock.Set(MakeLocalTime(2025, 6, 5, 11, 59, 0));
  bool started = false;
  module.ServiceStart(started);
  http.script.Respond(503, "busy");
  http.script.answers.back().response.retryAfter = L"900";
  int checks = 0;
  for (int second = 30; second < 3600 && checks < 3; second += 30) {
    clock.Set(TimeFromEpochSeconds(EpochSeconds(MakeLocalTime(2025, 6, 5, 11, 59, 0)) + second));
    const std::size_t before = http.script.requestedUrls.size();
    if (http.script.answers.empty()) http.script.Respond(200, "2.1.0.1");
    NewDllAtThisTime();
    ASSERT_TRUE(timers.Fire());
    if (http.script.requestedUrls.size() == before) continue;
    ++checks;
    if (checks == 2) {
      EXPECT_GE(second - 60, 900) << "no request before the Retry-After has passed";
    }
  }
  EXPECT_EQ(checks, 2);
  const auto& log = module.DLLSynchronisierer()->ProtokollListe();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::wstring& l) {
                            return l.find(L"Neuer Versuch um ") != std::wstring::npos;
                          }),
            1);
  EXPECT_FALSE(launcher.launches.empty()) << "the retry installed the update";
}
}  // namespace
