#pragma once
// The event log as the outcomes reach it: one entry with its own event ID, type and strings.

#include "core/OutcomeEvents.h"

class OutcomeEventLog {
 public:
  virtual ~OutcomeEventLog() = default;
  // Writes the entry under the service's event source. Never raises: an entry that cannot be
  // written is lost.
  virtual void Write(const OutcomeEvent& event) noexcept = 0;
};
