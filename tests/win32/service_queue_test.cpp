// The service thread's real message queue and window timer under Wine: control requests posted
// as thread messages, ticks as WM_TIMER on the service thread, the pause freeze, and a tick's
// error carried past DispatchMessageW.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>

#include "Services/PauseLatch.h"
#include "Services/ServiceThread.h"
#include "core/Exception.h"
#include "support/ServiceRecorders.h"
#include "win32/Win32ServiceQueue.h"
#include "win32/Win32Timer.h"

namespace {

// A module whose timer ticks every 20 ms and counts, raising on the tick `failingTick`.
class TickingModule : public ServiceEvents {
 public:
  void ServiceStart(bool&) override {
    timer_ = timers_.Create();
    timer_->SetOnTimer([this] {
      ticksOnThread += GetCurrentThreadId() == serviceThreadId ? 1 : 0;
      if (++depth > deepest) deepest = depth.load();
      const int tick = ++ticks;
      if (tick == pumpingTick) PumpLikeAPlatformCall();
      --depth;
      if (tick == failingTick) throw Exception(L"Fehler im Takt");
    });
    timer_->SetInterval(20);
  }
  void ServiceStop(bool&) override { timer_.reset(); }

  // A message loop of its own inside the tick, as urlmon or the shell may run one: it takes and
  // dispatches whatever the thread's queue holds, wake-ups and timer ticks included.
  void PumpLikeAPlatformCall() {
    pumping = true;
    const ULONGLONG end = GetTickCount64() + 400;
    while (GetTickCount64() < end) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ++pumped;
        DispatchMessageW(&msg);
      }
      Sleep(5);
    }
    pumping = false;
  }

  std::atomic<int> ticks{0};
  std::atomic<int> ticksOnThread{0};
  std::atomic<int> depth{0};
  std::atomic<int> deepest{0};
  std::atomic<int> pumped{0};
  std::atomic<bool> pumping{false};
  int failingTick = -1;
  int pumpingTick = -1;
  DWORD serviceThreadId = 0;

 private:
  Win32TimerFactory timers_;
  std::unique_ptr<ScheduleTimer> timer_;
};

struct ServiceThreadFixture : ::testing::Test {
  static DWORD WINAPI ThreadMain(void* parameter) {
    auto* self = static_cast<ServiceThreadFixture*>(parameter);
    Win32ServiceQueue queue(self->latch, self->requests);
    self->module.serviceThreadId = GetCurrentThreadId();
    self->threadId = GetCurrentThreadId();
    ServiceThread(self->module, self->keeper, self->eventLog, {L"svc", L"host.exe"}).Run(queue);
    return 0;
  }
  void StartThread() {
    thread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(journal.WaitFor("report:Running"));
  }
  // Waits until the module has ticked `count` times in all; false after ten seconds.
  bool WaitTicks(int count) {
    for (int i = 0; i < 1000 && module.ticks < count; ++i) Sleep(10);
    return module.ticks >= count;
  }
  void Post(DWORD code) { ASSERT_TRUE(PostControlRequest(threadId.load(), code, latch, requests)); }
  bool Ended() { return WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0; }
  void TearDown() override {
    if (thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
      for (int i = 0; i < 5 && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; ++i) Post(1);
      WaitForSingleObject(thread, 10000);
    }
    if (thread) CloseHandle(thread);
  }

  Journal journal;
  RecordingStatusSink sink{&journal};
  ServiceStatusKeeper keeper{sink};
  RecordingEventSink eventLog;
  TickingModule module;
  PauseLatch latch;
  ControlRequestBox requests;
  std::atomic<DWORD> threadId{0};
  HANDLE thread = nullptr;
};

TEST_F(ServiceThreadFixture, TicksRunOnTheServiceThreadAndStopEndsIt) {
  StartThread();
  ASSERT_TRUE(WaitTicks(3));
  Post(1);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(module.ticks.load(), module.ticksOnThread.load());
  EXPECT_EQ(sink.States(), (std::vector<std::uint32_t>{2, 4, 3}));
  EXPECT_TRUE(eventLog.Events().empty());
}

TEST_F(ServiceThreadFixture, NoTickRunsWhilePausedAndTicksResumeAfterContinue) {
  StartThread();
  ASSERT_TRUE(WaitTicks(2));
  Post(2);
  ASSERT_TRUE(journal.WaitFor("report:Paused"));
  Sleep(50);  // a tick already running when the pause was posted may still end
  const int frozenAt = module.ticks;
  Sleep(300);  // fifteen intervals
  EXPECT_EQ(module.ticks.load(), frozenAt);
  Post(3);
  ASSERT_TRUE(journal.WaitFor("report:Running", 2));
  ASSERT_TRUE(WaitTicks(frozenAt + 3));
  Post(1);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(sink.States(), (std::vector<std::uint32_t>{2, 4, 6, 7, 5, 4, 3}));
}

TEST_F(ServiceThreadFixture, ATickErrorIsReportedByTheHostAndTicksGoOn) {
  module.failingTick = 2;
  StartThread();
  ASSERT_TRUE(WaitTicks(4));
  Post(1);
  ASSERT_TRUE(Ended());
  const std::vector<LoggedEvent> expected = {{L"host.exe", L"Fehler im Takt"}};
  EXPECT_EQ(eventLog.Events(), expected);
}

TEST_F(ServiceThreadFixture, TwoStopsPostedTogetherAreBothHandled) {
  StartThread();
  Post(4);
  Post(1);
  Post(1);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(sink.States(), (std::vector<std::uint32_t>{2, 4, 4, 3, 3}));
}

TEST_F(ServiceThreadFixture, ANestedMessageLoopRunsNoTickInsideATickAndLosesNoRequest) {
  module.pumpingTick = 2;
  StartThread();
  ASSERT_TRUE(WaitTicks(2));
  for (int i = 0; i < 200 && !module.pumping; ++i) Sleep(5);
  ASSERT_TRUE(module.pumping);
  Post(1);
  EXPECT_TRUE(requests.StopPending()) << "visible to the running cycle at once";
  ASSERT_TRUE(Ended());
  EXPECT_EQ(module.deepest.load(), 1) << "no tick ran inside the tick";
  EXPECT_GT(module.pumped.load(), 0) << "the nested loop took the wake-up and the ticks";
  EXPECT_FALSE(requests.StopPending());
  EXPECT_EQ(sink.States(), (std::vector<std::uint32_t>{2, 4, 3}));
}

TEST(ServiceQueueTest, NoRequestCanBePostedToAThreadWithoutQueue) {
  PauseLatch latch;
  ControlRequestBox requests;
  EXPECT_FALSE(PostControlRequest(0, 1, latch, requests));
  EXPECT_FALSE(requests.StopPending());
  EXPECT_FALSE(latch.RequestWaiting());
}

}  // namespace
