#include <gtest/gtest.h>

#include <thread>

#include "Services/KORVAL_Update_Service.h"
#include "Services/ServiceThread.h"
#include "core/Exception.h"
#include "support/FakeClock.h"
#include "support/FakeCycleLock.h"
#include "support/FakeProfileReader.h"
#include "support/FakeRegistryKeys.h"
#include "support/FakeScheduleTimer.h"
#include "support/FakeServiceQueue.h"
#include "support/FakeTextCodec.h"
#include "support/MemoryLogFileStore.h"
#include "support/ServiceRecorders.h"

namespace {

const std::wstring kFolder = L"C:\\Dienst\\";
const std::wstring kRunLog = L"C:\\Dienst\\Protokoll.txt";

// The module over a real engine whose platform is in memory.
class ServiceModuleTest : public ::testing::Test {
 protected:
  ServiceModuleTest() {
    platform_.programFolder = kFolder;
    platform_.profiles = &profiles_;
    platform_.clock = &clock_;
    platform_.codec = &codec_;
    platform_.logFiles = &logFiles_;
    clock_.Set(MakeLocalTime(2025, 6, 5, 12, 0, 5));
  }
  void Start() {
    bool started = true;
    module_.ServiceStart(started);
    EXPECT_TRUE(started);
  }
  void Stop() {
    bool stopped = true;
    module_.ServiceStop(stopped);
    EXPECT_TRUE(stopped);
  }

  FakeProfileReader profiles_;
  FakeClock clock_;
  FakeTextCodec codec_;
  MemoryLogFileStore logFiles_;
  EnginePlatform platform_;
  int enginesBuilt_ = 0;
  FakeScheduleTimerFactory timers_;
  FakeCycleLock cycleLock_;
  TKORVAL_Update_Service module_{timers_, clock_,
                                 [this] {
                                   ++enginesBuilt_;
                                   return std::make_unique<TDLLSynchronisierer>(platform_);
                                 },
                                 cycleLock_};
};

TEST_F(ServiceModuleTest, StartWritesExactlyTheStartLineAndTicksEveryThirtySeconds) {
  logFiles_.ForeignReplace(kRunLog, "lines of an earlier run\r\n");
  Start();
  EXPECT_EQ(logFiles_.Contents(kRunLog), "6/5/2025 12:00:05 PM: Service gestartet.\r\n");
  EXPECT_EQ(timers_.events, (std::vector<std::string>{"create", "handler", "interval 30000"}));
  ASSERT_NE(module_.CurrentTimer(), nullptr);
  EXPECT_EQ(module_.CurrentTimer()->Interval(), 30000u);
  ASSERT_NE(module_.DLLSynchronisierer(), nullptr);
  EXPECT_FALSE(module_.MittagsUeberpruefungAbgeschlossen());
  EXPECT_FALSE(module_.MitternachtsUeberpruefungAbgeschlossen());
}

TEST_F(ServiceModuleTest, TestModeWritesItsOwnStartLineAndTicksEveryTwoMinutes) {
  profiles_.Set(L"ENTWICKLUNG", L"Testmodus", L"1");
  profiles_.Set(L"VERZEICHNISSE", L"PROTOKOLLPFAD", L"D:\\Logs");
  Start();
  EXPECT_EQ(logFiles_.Contents(L"D:\\Logs\\Protokoll.txt"),
            "6/5/2025 12:00:05 PM: Service gestartet (Testmodus).\r\n");
  EXPECT_FALSE(logFiles_.Exists(kRunLog));
  EXPECT_EQ(timers_.events, (std::vector<std::string>{"create", "handler", "interval 120000"}));
}

TEST_F(ServiceModuleTest, AValueThatDoesNotConvertFailsTheStartAndLeavesTheRunLogUntouched) {
  logFiles_.ForeignReplace(kRunLog, "old\r\n");
  profiles_.Set(L"VERZEICHNISSE", L"UPDATEINTERVALL", L"abc");
  bool started = true;
  try {
    module_.ServiceStart(started);
    FAIL() << "the start did not fail";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), L"'abc' ist kein gültiger Integerwert für Typ 'Integer'");
  }
  EXPECT_EQ(logFiles_.Contents(kRunLog), "old\r\n");
  EXPECT_EQ(logFiles_.Rewrites() + logFiles_.Appends(), 0);
  EXPECT_EQ(module_.DLLSynchronisierer(), nullptr);
  // The timer was made and armed before the engine: it stays, with its first interval.
  EXPECT_EQ(timers_.events, (std::vector<std::string>{"create", "handler"}));
}

TEST_F(ServiceModuleTest, NoTimerLeftOrACycleLockMadeByAnotherAccountFailsTheStartBeforeAnyLine) {
  for (int row = 0; row < 2; ++row) {
    timers_.failNextCreate = row == 0;
    cycleLock_.squatter = row == 1 ? L"S-1-5-21-1-2-3-1001" : L"";
    bool started = true;
    EXPECT_THROW(module_.ServiceStart(started), Exception);
    EXPECT_EQ(enginesBuilt_, row) << "no engine without a timer";
    EXPECT_EQ(module_.DLLSynchronisierer(), nullptr);
    EXPECT_FALSE(logFiles_.Exists(kRunLog));
  }
  EXPECT_EQ(cycleLock_.claims, 1) << "claimed at the start, before anything is logged";
  // The lock lives in the protected download folder, never beside the program.
  EXPECT_TRUE(cycleLock_.claimedFolder.ends_with(L"\\Download\\")) << cycleLock_.claimedFolder;
}

TEST_F(ServiceModuleTest, StopDestroysTimerAndEngineAndWritesNothing) {
  Start();
  const std::string log = logFiles_.Contents(kRunLog);
  Stop();
  EXPECT_EQ(timers_.alive, 0);
  EXPECT_EQ(module_.CurrentTimer(), nullptr);
  EXPECT_EQ(module_.DLLSynchronisierer(), nullptr);
  EXPECT_EQ(logFiles_.Contents(kRunLog), log);
  EXPECT_FALSE(timers_.Fire());
}

TEST_F(ServiceModuleTest, ASecondStopFindsNothingToDestroy) {
  Start();
  Stop();
  Stop();
  EXPECT_EQ(timers_.events,
            (std::vector<std::string>{"create", "handler", "interval 30000", "destroy"}));
  EXPECT_EQ(module_.DLLSynchronisierer(), nullptr);
}

TEST_F(ServiceModuleTest, EveryStartBuildsEverythingAnew) {
  Start();
  Stop();
  clock_.Set(MakeLocalTime(2025, 6, 5, 13, 30, 0));
  Start();
  EXPECT_EQ(enginesBuilt_, 2);
  EXPECT_EQ(timers_.alive, 1);
  EXPECT_EQ(logFiles_.Contents(kRunLog), "6/5/2025 1:30:00 PM: Service gestartet.\r\n");
}

TEST_F(ServiceModuleTest, AfterInstallWritesTheDescriptionIntoTheServicesKey) {
  FakeRegistryKeys registry;
  module_.ServiceAfterInstall(registry);
  const std::vector<FakeRegistryKeys::Write> expected = {
      {L"\\SYSTEM\\CurrentControlSet\\Services\\KORVAL_Update_Service", L"Description",
       L"Dienst zum aktualisieren von KORVAL Inhalten."}};
  EXPECT_EQ(registry.writes, expected);
}

TEST_F(ServiceModuleTest, AfterInstallWithoutTheKeyIsNoErrorButAFailedWriteIs) {
  FakeRegistryKeys missing;
  missing.keyMissing = true;
  EXPECT_NO_THROW(module_.ServiceAfterInstall(missing));
  FakeRegistryKeys failing;
  failing.failure = L"Systemfehler.  Code: 5.\r\nAccess denied";
  EXPECT_THROW(module_.ServiceAfterInstall(failing), Exception);
}

// The module on the service thread, with control requests from the queue.
class ServiceModuleOnThreadTest : public ServiceModuleTest {
 protected:
  void Run(FakeServiceQueue& queue) {
    ServiceThread(module_, keeper_, eventLog_, EventSources{L"KORVAL_Update_Service", L"x.exe"})
        .Run(queue);
  }
  Journal journal_;
  RecordingStatusSink statusSink_{&journal_};
  ServiceStatusKeeper keeper_{statusSink_};
  RecordingEventSink eventLog_;
};

// Two stop requests that arrive during a long tick are both queued; the second is handled while
// the queue drains and must find nothing left to destroy.
TEST_F(ServiceModuleOnThreadTest, TwoQueuedStopRequestsEndTheServiceCleanly) {
  FakeServiceQueue queue(journal_);
  queue.PostTick([this] { journal_.WaitFor("both stops posted"); });
  std::thread service([&] { Run(queue); });
  ASSERT_TRUE(journal_.WaitFor("tick"));
  queue.PostControl(1);
  queue.PostControl(1);
  journal_.Add("both stops posted");
  service.join();
  EXPECT_EQ(statusSink_.States(), (std::vector<std::uint32_t>{2, 4, 3, 3}));
  EXPECT_EQ(timers_.events,
            (std::vector<std::string>{"create", "handler", "interval 30000", "destroy"}));
  EXPECT_EQ(module_.DLLSynchronisierer(), nullptr);
  EXPECT_TRUE(eventLog_.Events().empty());
}

TEST_F(ServiceModuleOnThreadTest, ShutdownEndsTheServiceWithoutServiceStop) {
  FakeServiceQueue queue(journal_);
  queue.PostControl(5);
  Run(queue);
  EXPECT_EQ(statusSink_.States(), (std::vector<std::uint32_t>{2, 4, 3}));
  EXPECT_EQ(timers_.alive, 1);
  EXPECT_NE(module_.DLLSynchronisierer(), nullptr);
  EXPECT_EQ(logFiles_.Contents(kRunLog), "6/5/2025 12:00:05 PM: Service gestartet.\r\n");
}

TEST_F(ServiceModuleOnThreadTest, ABadValueEndsTheServiceThreadWithTheStartFailure) {
  profiles_.Set(L"VERZEICHNISSE", L"UPDATEINTERVALL", L"abc");
  FakeServiceQueue queue(journal_);
  Run(queue);
  EXPECT_EQ(statusSink_.States(), (std::vector<std::uint32_t>{2}));
  const std::vector<LoggedEvent> expected = {
      {L"KORVAL_Update_Service",
       L"Service fehlgeschlagen bei start:'abc' ist kein gültiger Integerwert für Typ 'Integer'"}};
  EXPECT_EQ(eventLog_.Events(), expected);
  EXPECT_FALSE(logFiles_.Exists(kRunLog));
}

}  // namespace
