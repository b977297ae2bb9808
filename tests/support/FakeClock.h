#pragma once
// A clock for tests: the time of day is whatever the test sets; waiting only advances the tick
// counter and is recorded.

#include <cstdint>
#include <vector>

#include "platform/Clock.h"

// A local time with its day of the week filled in (proleptic Gregorian calendar).
LocalTime MakeLocalTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                        int millisecond = 0);

class FakeClock : public Clock {
 public:
  FakeClock() = default;
  explicit FakeClock(const LocalTime& now) : now_(now) {}

  void Set(const LocalTime& now) { now_ = now; }
  void AdvanceTicks(std::uint64_t milliseconds) { ticks_ += milliseconds; }
  const std::vector<unsigned>& Waits() const { return waits_; }

  LocalTime Now() override { return now_; }
  // The fake's time zone is UTC.
  LocalTime UtcNow() override { return now_; }
  std::uint64_t TickMilliseconds() override { return ticks_; }
  void Wait(unsigned milliseconds) override;

 private:
  LocalTime now_ = MakeLocalTime(2025, 6, 5, 12, 0, 5);
  std::uint64_t ticks_ = 1000;
  std::vector<unsigned> waits_;
};
