#pragma once
// What the service thread does for a control request: a plain rule of the code and the status.

#include <cstdint>
#include <vector>

#include "Services/ServiceStatus.h"

struct ControlPlan {
  std::vector<TCurrentStatus> reports;  // reported first, in this order
  // Then ServiceStop is called; when it leaves Stopped false, the status from before the
  // request is reported again and the loop goes on.
  bool callsServiceStop = false;
  bool freezes = false;  // then the thread freezes until the next control request
  bool endsLoop = false;
  bool operator==(const ControlPlan&) const = default;
};

inline constexpr std::uint32_t ControlStop = 1;
inline constexpr std::uint32_t ControlPause = 2;
inline constexpr std::uint32_t ControlContinue = 3;
inline constexpr std::uint32_t ControlInterrogate = 4;
inline constexpr std::uint32_t ControlShutdown = 5;

// The plan for control code `code` arriving while the status is `current`. A code of the
// service's own does nothing.
ControlPlan PlanControl(std::uint32_t code, TCurrentStatus current);
