#pragma once
// The outcomes of the update engine that an administrator alerts on (installed, rolled back,
// refused, left stopped, ...), each with its details in a fixed order. The engine reports each
// outcome once, where it happens; what becomes of it (an event with a fixed ID, the status file)
// is the sink's business.

#include <string>
#include <vector>

#include "core/Outcome.h"

class OutcomeSink {
 public:
  virtual ~OutcomeSink() = default;
  // Never raises.
  virtual void Report(Outcome outcome, const std::vector<std::wstring>& details) noexcept = 0;
  // At every service start and after every cycle. Never raises.
  virtual void CycleEnded(const CycleSummary& summary) noexcept = 0;
};
