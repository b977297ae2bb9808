#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "Services/CheckPlanner.h"
#include "core/UpdateSchedule.h"
#include "core/Exception.h"

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

// The window that the default flags stand for, on day 20000.
std::optional<WindowOccurrence> LastRunOf(ScheduleFlags flags) {
  if (flags.noonDone) return WindowOccurrence{20000, 12};
  if (flags.midnightDone) return WindowOccurrence{20000, 0};
  return std::nullopt;
}

TEST(UpdateScheduleTest, DecisionTable) {
  for (const auto& c : kTickCases) {
    SCOPED_TRACE(c.name);
    ScheduleDecision d = DecideTick(c.hour, c.flags, c.testMode);
    EXPECT_EQ(d.runCycle, c.runs);
    EXPECT_EQ(d.flagsAfterCycle, c.flagsAfter);
    if (c.testMode || c.flags == kBoth) continue;
    // The default window list decides exactly alike, on any later day and minute of the hour.
    const WindowTick w = DecideWindowTick(WindowSchedule(), 20001 * 86400LL + c.hour * 3600 + 1799,
                                          LastRunOf(c.flags));
    EXPECT_EQ(w.runCycle, c.runs);
    if (w.runCycle) {
      EXPECT_EQ(FlagsFor(w.window), c.flagsAfter);
    }
  }
}

// Runs ticks every 30 s from start to end (seconds since a midnight), skipping the paused span,
// and answers the seconds at which the cycle ran.
// The same ticks through the planner with the default settings must run at the same seconds.
std::vector<int> SimulateDay(int startSecond, int endSecond, int pauseFrom = -1, int pauseTo = -1) {
  std::vector<int> runs, plannerRuns;
  ScheduleFlags flags;
  CheckPlanner planner{PlannerSettings()};
  for (int t = startSecond + 30; t < endSecond; t += 30) {
    if (t >= pauseFrom && t < pauseTo) continue;
    ScheduleDecision d = DecideTick((t / 3600) % 24, flags, false);
    if (d.runCycle) {
      runs.push_back(t);
      flags = d.flagsAfterCycle;
    }
    const PlannedTick tick = planner.OnTick(t, 0);
    if (tick.runCycle) {
      plannerRuns.push_back(t);
      planner.OnCycleEnd(tick, true, t, 0, 0);
    }
  }
  EXPECT_EQ(plannerRuns, runs);
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
TEST(UpdateScheduleTest, WindowHoursList) {
  const std::pair<const wchar_t*, std::vector<int>> good[] = {
      {L"0;12", {0, 12}}, {L"2", {2}}, {L" 23 ; 7;7 ", {7, 23}}, {L"00;06;12;18", {0, 6, 12, 18}}};
  for (const auto& [text, hours] : good) EXPECT_EQ(ParseWindowHours(text), hours) << text;
  for (const wchar_t* bad : {L"", L"24", L"0;", L";12", L"-1", L"1,2", L"$C", L"012", L"12h"}) {
    EXPECT_THROW(ParseWindowHours(bad), EConvertError) << bad;
  }
  EXPECT_EQ(ParseWindowHours(kDefaultWindowHours), (std::vector<int>{0, 12}));
  EXPECT_EQ(WindowGapMinutes({0, 12}), 720);
  EXPECT_EQ(WindowGapMinutes({2}), 1440);
  EXPECT_EQ(WindowGapMinutes({1, 3, 22}), 120);
}

// Ticks every 30 s through a planner from start to end; answers the seconds at which it ran.
std::vector<std::int64_t> RunPlanner(PlannerSettings settings, std::int64_t start, std::int64_t end,
                                     const std::function<bool(std::int64_t)>& fails = nullptr,
                                     std::int64_t notBefore = 0, std::uint64_t random = 90) {
  CheckPlanner planner(std::move(settings));
  std::vector<std::int64_t> runs;
  for (std::int64_t t = start + 30; t < end; t += 30) {
    const PlannedTick tick = planner.OnTick(t, notBefore);
    if (!tick.runCycle) continue;
    runs.push_back(t);
    planner.OnCycleEnd(tick, fails && fails(t), t, notBefore, random);
  }
  return runs;
}

TEST(UpdateScheduleTest, OneWindowADayWithAnOffset) {
  PlannerSettings settings;
  settings.windows = {{2}, 754};  // 02:12:34
  EXPECT_EQ(RunPlanner(settings, 0, 3 * 86400),
            (std::vector<std::int64_t>{7980, 86400 + 7980, 2 * 86400 + 7980}));
  settings.windows = {{23}, 5400};  // 00:30, the next day
  EXPECT_EQ(RunPlanner(settings, 0, 2 * 86400), (std::vector<std::int64_t>{1800, 86400 + 1800}));
}

TEST(UpdateScheduleTest, RetriesWithinTheWindowAndNeverIntoTheNext) {
  PlannerSettings settings;
  settings.retries = 3;
  // Every cycle fails; the jitter draw 90 gives 90 s each time.
  EXPECT_EQ(RunPlanner(settings, 11 * 3600, 13 * 3600, [](std::int64_t) { return true; }),
            (std::vector<std::int64_t>{43200, 43290, 43380, 43470}));
  EXPECT_EQ(RunPlanner(settings, 11 * 3600, 13 * 3600, [](std::int64_t t) { return t == 43200; }),
            (std::vector<std::int64_t>{43200, 43290}));
  settings.retries = 0;
  EXPECT_EQ(RunPlanner(settings, 11 * 3600, 13 * 3600, [](std::int64_t) { return true; }),
            (std::vector<std::int64_t>{43200}));
  settings.retries = 3;
  // The draw 500 gives 199 s for the first retry; the second would fall after 01:00, when the
  // next window has opened, and is dropped: 01:00 runs that window's own check.
  settings.windows = {{0, 1}, 0};
  EXPECT_EQ(RunPlanner(
                settings, 3000, 3700, [](std::int64_t) { return true; }, 0, 500),
            (std::vector<std::int64_t>{3030, 3240, 3600}));
}

TEST(UpdateScheduleTest, AServersPauseDelaysTheWindowsCheckOrGivesItUp) {
  PlannerSettings settings;
  EXPECT_EQ(RunPlanner(settings, 11 * 3600, 13 * 3600, nullptr, 43200 + 1000),
            (std::vector<std::int64_t>{44220}));
  EXPECT_TRUE(RunPlanner(settings, 11 * 3600, 14 * 3600, nullptr, 86400).empty());
  settings.testMode = true;
  EXPECT_EQ(RunPlanner(settings, 0, 200, nullptr, 100), (std::vector<std::int64_t>{120, 150, 180}));
}
}  // namespace
