#pragma once
// The service thread's real message queue: control requests arrive as thread message 1025,
// the schedule timer's ticks as WM_TIMER of its window.

#include <windows.h>

#include "Services/PauseLatch.h"
#include "Services/ServiceMessageQueue.h"

class Win32ServiceQueue : public ServiceMessageQueue {
 public:
  // Creates the calling thread's message queue, so that requests can be posted to it from here
  // on. `latch` is shared with the control handler.
  explicit Win32ServiceQueue(PauseLatch& latch);

  std::optional<ServiceMessage> Next() override;
  std::optional<ServiceMessage> TryNext() override;
  void Dispatch(const ServiceMessage& message) override;
  void Freeze() override;

 private:
  ServiceMessage Taken(const MSG& msg);

  PauseLatch& latch_;
};

// Posts a control request to the service thread `threadId` and wakes it if it is frozen.
// Returns false when the request could not be posted.
bool PostControlRequest(DWORD threadId, DWORD controlCode, PauseLatch& latch);
