#include "Services/CheckPlanner.h"

#include "core/RetryPolicy.h"

PlannedTick CheckPlanner::OnTick(std::int64_t now, std::int64_t notBefore) {
  PlannedTick tick;
  if (settings_.testMode) {
    tick.runCycle = now >= notBefore;
    return tick;
  }
  const WindowTick window = DecideWindowTick(settings_.windows, now, lastWindow_);
  if (window.runCycle && window.window != attemptWindow_) {
    // A new window: whatever waited from the last one is over.
    attemptWindow_ = window.window;
    windowEnd_ = window.nextWindowStart;
    retriesMade_ = 0;
    nextAttempt_ = now;
  }
  if (!nextAttempt_ || now < *nextAttempt_) return tick;
  if (now >= windowEnd_) {
    nextAttempt_.reset();
    return tick;
  }
  if (now < notBefore) {
    // The server asked for a pause: the check waits for it, or gives up the window.
    nextAttempt_ = notBefore < windowEnd_ ? std::optional<std::int64_t>(notBefore) : std::nullopt;
    return tick;
  }
  tick.runCycle = true;
  tick.retry = retriesMade_ > 0;
  tick.window = attemptWindow_;
  return tick;
}

std::optional<std::int64_t> CheckPlanner::OnCycleEnd(const PlannedTick& tick, bool passingFailure,
                                                     std::int64_t now, std::int64_t notBefore,
                                                     std::uint64_t random) {
  if (!tick.runCycle || settings_.testMode) return std::nullopt;
  lastWindow_ = tick.window;
  nextAttempt_.reset();
  if (!passingFailure || retriesMade_ >= settings_.retries) return std::nullopt;
  ++retriesMade_;
  nextAttempt_ = RetryAt(retriesMade_, now, notBefore, windowEnd_, random);
  return nextAttempt_;
}
