#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "Services/PauseLatch.h"

namespace {

using namespace std::chrono_literals;

TEST(PauseLatchTest, ThePauseRequestItselfDoesNotEndTheFreeze) {
  PauseLatch latch;
  latch.RequestPosted();  // the pause request
  latch.RequestTaken();
  EXPECT_FALSE(latch.RequestWaiting());
}

TEST(PauseLatchTest, ARequestPostedJustBeforeTheFreezeIsNotLost) {
  PauseLatch latch;
  latch.RequestPosted();  // pause
  latch.RequestTaken();
  latch.RequestPosted();   // stop, posted while the pause is still being handled
  latch.WaitForRequest();  // returns at once: a hang here is the fault
  EXPECT_TRUE(latch.RequestWaiting());
}

TEST(PauseLatchTest, ARequestTakenBeforeTheHandlerCountedItDoesNotWakeLater) {
  PauseLatch latch;
  latch.RequestTaken();  // the thread was quicker than the handler's count
  latch.RequestPosted();
  EXPECT_FALSE(latch.RequestWaiting());
  latch.RequestPosted();
  EXPECT_TRUE(latch.RequestWaiting());
}

TEST(PauseLatchTest, AFrozenThreadWakesForTheNextRequest) {
  PauseLatch latch;
  latch.RequestPosted();
  latch.RequestTaken();
  std::atomic<bool> woke{false};
  std::thread frozen([&] {
    latch.WaitForRequest();
    woke = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(woke.load());
  latch.RequestPosted();
  frozen.join();
  EXPECT_TRUE(woke.load());
}

// A request posted at any moment around the freeze always ends it.
TEST(PauseLatchTest, NoWakeUpIsLostUnderRaces) {
  for (int round = 0; round < 2000; ++round) {
    PauseLatch latch;
    latch.RequestPosted();
    latch.RequestTaken();
    std::thread handler([&] { latch.RequestPosted(); });
    auto frozen = std::async(std::launch::async, [&] { latch.WaitForRequest(); });
    ASSERT_EQ(frozen.wait_for(10s), std::future_status::ready) << "round " << round;
    handler.join();
  }
}

}  // namespace
