#include <gtest/gtest.h>

#include <vector>

#include "Services/UpdateSchedule.h"

namespace {
struct TickCase {
  const char* name;
  int hour;
  ScheduleFlags flags;
  bool testMode;
  bool runs;
  ScheduleFlags flagsAfter;
};

constexpr ScheduleFlags kNone{false, false};
constexpr ScheduleFlags kNoon{true, false};
constexpr ScheduleFlags kMidnight{false, true};
constexpr ScheduleFlags kBoth{true, true};

const TickCase kTickCases[] = {
    {"noon window opens after start", 12, kNone, false, true, kNoon},
    {"noon window already done", 12, kNoon, false, false, kNoon},
    {"noon after midnight check", 12, kMidnight, false, true, kNoon},
    {"midnight window opens after start", 0, kNone, false, true, kMidnight},
    {"midnight window already done", 0, kMidnight, false, false, kMidnight},
    {"midnight after noon check", 0, kNoon, false, true, kMidnight},
    {"hour 13 does nothing", 13, kNone, false, false, kNone},
    {"hour 11 does nothing", 11, kNone, false, false, kNone},
    {"hour 23 does nothing", 23, kMidnight, false, false, kMidnight},
    {"hour 1 does nothing", 1, kNoon, false, false, kNoon},
    {"test mode runs at any hour", 7, kNone, true, true, kNone},
    {"test mode ignores done flags", 12, kBoth, true, true, kBoth},
    {"test mode leaves flags at midnight", 0, kNoon, true, true, kNoon},
};

TEST(UpdateScheduleTest, DecisionTable) {
  for (const auto& c : kTickCases) {
    SCOPED_TRACE(c.name);
    ScheduleDecision d = DecideTick(c.hour, c.flags, c.testMode);
    EXPECT_EQ(d.runCycle, c.runs);
    EXPECT_EQ(d.flagsAfterCycle, c.flagsAfter);
  }
}

// Runs ticks every 30 s from start to end (seconds since a midnight), skipping the paused span,
// and answers the seconds at which the cycle ran.
std::vector<int> SimulateDay(int startSecond, int endSecond, int pauseFrom = -1, int pauseTo = -1) {
  std::vector<int> runs;
  ScheduleFlags flags;
  for (int t = startSecond + 30; t < endSecond; t += 30) {
    if (t >= pauseFrom && t < pauseTo) continue;
    ScheduleDecision d = DecideTick((t / 3600) % 24, flags, false);
    if (d.runCycle) {
      runs.push_back(t);
      flags = d.flagsAfterCycle;
    }
  }
  return runs;
}

constexpr int kHour = 3600;

TEST(UpdateScheduleTest, RunningSince11RunsJustAfterNoonAndJustAfterMidnight) {
  EXPECT_EQ(SimulateDay(11 * kHour, 26 * kHour), (std::vector<int>{12 * kHour, 24 * kHour}));
}

TEST(UpdateScheduleTest, StartedInsideTheNoonWindowRunsAtTheFirstTick) {
  EXPECT_EQ(SimulateDay(12 * kHour + 30 * 60, 13 * kHour),
            (std::vector<int>{12 * kHour + 30 * 60 + 30}));
}

TEST(UpdateScheduleTest, StartedAt125950RunsOnlyAfterMidnight) {
  EXPECT_EQ(SimulateDay(12 * kHour + 59 * 60 + 50, 25 * kHour),
            (std::vector<int>{24 * kHour + 20}));
}

TEST(UpdateScheduleTest, PausedAcrossNoonSkipsTheNoonCheck) {
  EXPECT_EQ(SimulateDay(11 * kHour, 25 * kHour, 11 * kHour + 30 * 60, 13 * kHour + 30 * 60),
            (std::vector<int>{24 * kHour}));
}
}  // namespace
