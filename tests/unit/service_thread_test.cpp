#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "Services/ServiceMainRoutine.h"
#include "Services/ServiceThread.h"
#include "core/Exception.h"
#include "support/FakeServiceEvents.h"
#include "support/FakeServiceQueue.h"
#include "support/ServiceRecorders.h"

namespace {

const std::wstring kService = L"KORVAL_Update_Service";
const std::wstring kHost = L"KORVAL_Update_Service.exe";

ServiceStatusReport R(std::uint32_t state, std::uint32_t checkPoint = 0) {
  ServiceStatusReport r;
  r.serviceType = 0x10;
  r.currentState = state;
  r.controlsAccepted = state == 2 ? 0 : 7;
  r.checkPoint = checkPoint;
  r.waitHint = 5000;
  return r;
}

// The service's main routine and its service thread, running on threads of their own.
class ServiceThreadTest : public ::testing::Test {
 protected:
  void StartService() {
    main_ = std::thread([this] {
      RunServiceMain(keeper_, eventLog_, sources_, [this] {
        ServiceThread serviceThread(events_, keeper_, eventLog_, sources_);
        std::thread worker([&] { serviceThread.Run(queue_); });
        worker.join();
      });
    });
  }
  void StartAndWaitRunning() {
    StartService();
    ASSERT_TRUE(journal_.WaitFor("report:Running"));
  }
  // Waits for the final csStopped report; false when the service hangs.
  bool WaitStopped() {
    if (!journal_.WaitFor("report:Stopped")) return false;
    main_.join();
    return true;
  }
  void TearDown() override {
    if (!main_.joinable()) return;
    queue_.Quit();
    for (int i = 0;
         i < 20 && !journal_.WaitFor("report:Stopped", 1, std::chrono::milliseconds(100)); ++i)
      queue_.PostControl(200);  // wakes a thread a failed test left frozen
    main_.join();
  }
  std::vector<std::uint32_t> States() { return statusSink_.States(); }
  int At(const std::string& entry, int occurrence = 0) {
    return journal_.IndexOf(entry, occurrence);
  }

  Journal journal_;
  RecordingStatusSink statusSink_{&journal_};
  ServiceStatusKeeper keeper_{statusSink_};
  RecordingEventSink eventLog_{&journal_};
  FakeServiceEvents events_{journal_};
  FakeServiceQueue queue_{journal_};
  EventSources sources_{kService, kHost};
  std::thread main_;
};

TEST_F(ServiceThreadTest, StartThenStopReportsEveryStatusInOrder) {
  StartAndWaitRunning();
  queue_.PostControl(1);
  ASSERT_TRUE(WaitStopped());
  // A regular stop carries no exit code.
  const std::vector<ServiceStatusReport> expected = {R(2), R(2, 1), R(4), R(3), R(1)};
  EXPECT_EQ(statusSink_.Reports(), expected);
  const std::vector<std::string> order = {
      "report:StartPending", "report:StartPending", "ServiceStart",  "report:Running",
      "report:StopPending",  "ServiceStop",         "report:Stopped"};
  EXPECT_EQ(journal_.Entries(), order);
  EXPECT_TRUE(eventLog_.Events().empty());
}

TEST_F(ServiceThreadTest, AStartFailureIsLoggedAndTheServiceStopsWithoutRunning) {
  events_.onStart = [](bool&) {
    throw EConvertError(L"'abc' ist kein gültiger Integerwert für Typ 'Integer'");
  };
  StartService();
  ASSERT_TRUE(WaitStopped());
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 1}));
  // The Service Control Manager learns of the failure: it records it and runs recovery.
  EXPECT_EQ(statusSink_.Reports().back().win32ExitCode, 1066u);
  EXPECT_EQ(statusSink_.Reports().back().serviceSpecificExitCode, kServiceExitStartFailed);
  const std::vector<LoggedEvent> expected = {
      {kService,
       L"Service fehlgeschlagen bei start:'abc' ist kein gültiger Integerwert für Typ 'Integer'"}};
  EXPECT_EQ(eventLog_.Events(), expected);
}

TEST_F(ServiceThreadTest, StopLeftFalseReportsTheStatusBeforeAgainAndGoesOn) {
  events_.onStop = [this](bool& stopped) { stopped = journal_.Count("ServiceStop") > 1; };
  StartAndWaitRunning();
  queue_.PostControl(1);
  queue_.PostControl(1);
  ASSERT_TRUE(WaitStopped());
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 4, 3, 4, 3, 1}));
}

TEST_F(ServiceThreadTest, AnErrorInServiceStopIsLoggedAndTheServiceKeepsRunning) {
  int stops = 0;
  events_.onStop = [&](bool&) {
    if (++stops == 1) throw Exception(L"Timer klemmt");
  };
  StartAndWaitRunning();
  queue_.PostControl(1);
  queue_.PostTick();
  queue_.PostControl(1);
  ASSERT_TRUE(WaitStopped());
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 4, 3, 4, 3, 1}));
  EXPECT_EQ(journal_.Count("tick"), 1);
  const std::vector<LoggedEvent> expected = {
      {kService, L"Service fehlgeschlagen bei stop:Timer klemmt"}};
  EXPECT_EQ(eventLog_.Events(), expected);
}

TEST_F(ServiceThreadTest, PauseFreezesTicksAndMessagesUntilContinue) {
  StartAndWaitRunning();
  queue_.PostControl(2);
  ASSERT_TRUE(journal_.WaitFor("freeze"));
  journal_.Add("posting");
  queue_.PostTick();
  queue_.PostTick();
  queue_.PostControl(4);  // wakes the thread; the ticks queued before it come first
  ASSERT_TRUE(journal_.WaitFor("report:Paused", 2));
  queue_.PostControl(3);
  queue_.PostTick();
  queue_.PostControl(1);
  ASSERT_TRUE(WaitStopped());

  EXPECT_LT(At("posting"), At("thaw")) << "the pause did not freeze the thread";
  EXPECT_LT(At("thaw"), At("tick")) << "a tick ran while frozen";
  EXPECT_EQ(journal_.Count("tick"), 3);
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 4, 6, 7, 7, 5, 4, 3, 1}));
}

// Whatever request arrives while paused lets the thread run again.
TEST_F(ServiceThreadTest, EveryControlRequestWakesAPausedThread) {
  struct Row {
    std::uint32_t code;
    std::vector<std::uint32_t> statesAfterPause;
  };
  const Row rows[] = {{1, {3}}, {2, {6, 7}}, {3, {5, 4}}, {4, {7}}, {5, {3}}, {128, {}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    Journal journal;
    RecordingStatusSink sink(&journal);
    ServiceStatusKeeper keeper(sink);
    RecordingEventSink eventLog;
    FakeServiceEvents events(journal);
    FakeServiceQueue queue(journal);
    ServiceThread serviceThread(events, keeper, eventLog, sources_);
    std::thread worker([&] { serviceThread.Run(queue); });
    queue.PostControl(2);
    ASSERT_TRUE(journal.WaitFor("freeze"));
    queue.PostControl(row.code);
    EXPECT_TRUE(journal.WaitFor("thaw"));
    queue.PostTick();
    queue.PostControl(5);                              // ends the loop whatever the code left
    for (int i = 0; i < 3; ++i) queue.PostControl(3);  // thaws a second pause
    worker.join();
    std::vector<std::uint32_t> states = sink.States();
    std::vector<std::uint32_t> expected = {2, 4, 6, 7};
    expected.insert(expected.end(), row.statesAfterPause.begin(), row.statesAfterPause.end());
    ASSERT_GE(states.size(), expected.size());
    EXPECT_EQ(std::vector<std::uint32_t>(states.begin(), states.begin() + expected.size()),
              expected);
  }
}

TEST_F(ServiceThreadTest, ARequestThatIsNoContinueKeepsThePausedStatusWhileTicksRun) {
  StartAndWaitRunning();
  queue_.PostControl(2);
  ASSERT_TRUE(journal_.WaitFor("freeze"));
  queue_.PostControl(130);
  queue_.PostTick();
  queue_.PostControl(4);
  ASSERT_TRUE(journal_.WaitFor("report:Paused", 2));
  EXPECT_EQ(journal_.Count("tick"), 1);
  queue_.PostControl(1);
  ASSERT_TRUE(WaitStopped());
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 4, 6, 7, 7, 3, 1}));
}

TEST_F(ServiceThreadTest, ShutdownEndsWithoutServiceStopAndStillDrainsTheQueue) {
  queue_.PostControl(5);
  queue_.PostTick();
  queue_.PostControl(4);
  StartService();
  ASSERT_TRUE(WaitStopped());
  const std::vector<ServiceStatusReport> expected = {R(2), R(2, 1), R(4), R(3), R(3, 1), R(1)};
  EXPECT_EQ(statusSink_.Reports(), expected);
  EXPECT_EQ(journal_.Count("ServiceStop"), 0);
  EXPECT_EQ(journal_.Count("tick"), 1);
}

TEST_F(ServiceThreadTest, AStopDuringATickIsHandledWhenTheTickHasReturned) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  StartAndWaitRunning();
  queue_.PostTick([&] {
    journal_.Add("tick running");
    released.wait();
  });
  ASSERT_TRUE(journal_.WaitFor("tick running"));
  queue_.PostControl(1);
  queue_.PostControl(4);
  EXPECT_EQ(States().back(), 4u);  // still running while the tick runs
  journal_.Add("released");
  release.set_value();
  ASSERT_TRUE(WaitStopped());
  EXPECT_LT(At("released"), At("report:StopPending"));
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 4, 3, 3, 1}));
}

TEST_F(ServiceThreadTest, TwoQueuedStopsAreBothHandled) {
  StartAndWaitRunning();
  queue_.PostTick([&] { journal_.WaitFor("second stop posted"); });
  queue_.PostControl(1);
  queue_.PostControl(1);
  journal_.Add("second stop posted");
  ASSERT_TRUE(WaitStopped());
  EXPECT_EQ(journal_.Count("ServiceStop"), 2);
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 4, 3, 3, 1}));
  EXPECT_EQ(statusSink_.Reports()[4].checkPoint, 1u);
}

TEST_F(ServiceThreadTest, ATickErrorIsTheHostsAndTheServiceGoesOn) {
  StartAndWaitRunning();
  queue_.PostTick([] { throw Exception(L"Fehler im Takt"); });
  queue_.PostTick();
  queue_.PostControl(1);
  ASSERT_TRUE(WaitStopped());
  EXPECT_EQ(journal_.Count("tick"), 2);
  const std::vector<LoggedEvent> expected = {{kHost, L"Fehler im Takt"}};
  EXPECT_EQ(eventLog_.Events(), expected);
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 4, 3, 1}));
}

TEST_F(ServiceThreadTest, AFailedReportDuringARequestIsLoggedAndTheStatusBeforeReportedAgain) {
  struct Row {
    std::uint32_t code;
    TCurrentStatus failing;
    const wchar_t* text;
  };
  const Row rows[] = {
      {2, TCurrentStatus::csPaused, L"Service fehlgeschlagen bei Pause:weg"},
      {3, TCurrentStatus::csContinuePending, L"Service fehlgeschlagen bei Weiter:weg"},
      {4, TCurrentStatus::csRunning, L"Service fehlgeschlagen bei interrogate:weg"},
      {1, TCurrentStatus::csStopPending, L"Service fehlgeschlagen bei stop:weg"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    Journal journal;
    RecordingStatusSink sink(&journal);
    ServiceStatusKeeper keeper(sink);
    RecordingEventSink eventLog;
    FakeServiceEvents events(journal);
    FakeServiceQueue queue(journal);
    ServiceThread serviceThread(events, keeper, eventLog, sources_);
    std::thread worker([&] { serviceThread.Run(queue); });
    ASSERT_TRUE(journal.WaitFor("report:Running"));
    sink.FailNextReportOf(row.failing, L"weg");
    queue.PostControl(row.code);
    queue.PostControl(5);
    worker.join();
    const std::vector<LoggedEvent> expected = {{kService, row.text}};
    EXPECT_EQ(eventLog.Events(), expected);
    EXPECT_EQ(journal.Count("freeze"), 0);
    EXPECT_EQ(journal.Count("ServiceStop"), 0);
    std::vector<std::uint32_t> states = sink.States();
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(states[states.size() - 2], 4u) << "the status before the request is reported again";
    EXPECT_EQ(states.back(), 3u);  // the shutdown
  }
}

TEST_F(ServiceThreadTest, AFailingQueueEndsTheThreadAsAnExecuteFailure) {
  queue_.FailNextTake(L"Nachrichtenschlange kaputt");
  StartService();
  ASSERT_TRUE(WaitStopped());
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 4, 1}));
  const std::vector<LoggedEvent> expected = {
      {kService, L"Service fehlgeschlagen bei execute:Nachrichtenschlange kaputt"}};
  EXPECT_EQ(eventLog_.Events(), expected);
}

TEST_F(ServiceThreadTest, CustomCodesReportNothing) {
  StartAndWaitRunning();
  for (std::uint32_t code : {0u, 6u, 128u, 255u}) queue_.PostControl(code);
  queue_.PostControl(1);
  ASSERT_TRUE(WaitStopped());
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{2, 2, 4, 3, 1}));
}

}  // namespace
