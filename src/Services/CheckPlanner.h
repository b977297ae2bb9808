#pragma once
// The schedule of one host from tick to tick: the window checks, the retries of a cycle that
// failed for a passing reason, and a server's Retry-After. Times are local seconds (seconds since
// 1970-01-01 of the local clock). The service's tick and the fleet simulator drive the same
// object, so a simulated fleet runs the service's own rules.

#include <cstdint>
#include <optional>

#include "core/UpdateSchedule.h"

struct PlannerSettings {
  WindowSchedule windows;
  int retries = 0;  // WIEDERHOLUNGEN: further cycles within a window after a passing failure
  bool testMode = false;
};

struct PlannedTick {
  bool runCycle = false;
  bool retry = false;                      // a repeated cycle of a window, not its first check
  std::optional<WindowOccurrence> window;  // the window whose check this tick starts
};

class CheckPlanner {
 public:
  explicit CheckPlanner(PlannerSettings settings) : settings_(std::move(settings)) {}

  // Whether a tick at `now` runs the cycle. notBefore: the time until which the update server
  // asked to be left alone (0 when it did not). A window's check that falls before it waits for
  // it, within its window; a tick that runs nothing changes no window.
  PlannedTick OnTick(std::int64_t now, std::int64_t notBefore);

  // After the cycle that `tick` ran: its window counts as done. A cycle that failed for a
  // passing reason is tried again while retries are left, after RetryAt's delay (random: the
  // draw for its jitter), never before notBefore and never in the next window. Answers when, if
  // a retry is planned.
  std::optional<std::int64_t> OnCycleEnd(const PlannedTick& tick, bool passingFailure,
                                         std::int64_t now, std::int64_t notBefore,
                                         std::uint64_t random);

  const std::optional<WindowOccurrence>& LastWindow() const { return lastWindow_; }
  const std::optional<std::int64_t>& NextAttempt() const { return nextAttempt_; }
  const PlannerSettings& Settings() const { return settings_; }

 private:
  PlannerSettings settings_;
  std::optional<WindowOccurrence> lastWindow_;     // the window whose check ran last
  std::optional<std::int64_t> nextAttempt_;        // a retry, or a check waiting for notBefore
  std::optional<WindowOccurrence> attemptWindow_;  // the window that nextAttempt_ belongs to
  std::int64_t windowEnd_ = 0;                     // the next window's start, for nextAttempt_
  int retriesMade_ = 0;                            // in attemptWindow_
};
