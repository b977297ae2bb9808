#pragma once
// The platform's clock: local time, UTC, a steady tick and waiting.

#include <cstdint>

#include "core/LocalTime.h"

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
  // The same moment in UTC (dayOfWeek included): for what must sort or compare across a change
  // of the time zone or of daylight saving time.
  virtual LocalTime UtcNow() = 0;
  // Milliseconds from a fixed, steadily rising origin; for measuring waits, not the time of day.
  virtual std::uint64_t TickMilliseconds() = 0;
  // Blocks the calling thread for the given time.
  virtual void Wait(unsigned milliseconds) = 0;
};
