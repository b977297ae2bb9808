#pragma once
// The schedule timer: ticks delivered to the thread that created it, as messages of its queue.

#include <functional>
#include <memory>

class ScheduleTimer {
 public:
  // Stops the ticks.
  virtual ~ScheduleTimer() = default;
  // Sets the tick handler. From here on the timer ticks with its current interval.
  virtual void SetOnTimer(std::function<void()> handler) = 0;
  // Sets the interval in milliseconds; an armed timer starts over with it. Raises Exception
  // "Nicht genügend Timer verfügbar" when the platform has no timer left.
  virtual void SetInterval(unsigned milliseconds) = 0;
  virtual unsigned Interval() const = 0;
};

class ScheduleTimerFactory {
 public:
  virtual ~ScheduleTimerFactory() = default;
  // A new timer, enabled, with an interval of 1000 ms and no tick handler yet.
  virtual std::unique_ptr<ScheduleTimer> Create() = 0;
};
