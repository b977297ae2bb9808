#pragma once
// The service thread's real message queue: control requests wait in a ControlRequestBox, with
// thread message 1025 only as the wake-up; the schedule timer's ticks arrive as WM_TIMER of its
// window. A request therefore survives a message loop that a platform call runs on this thread
// and that takes the wake-up away.

#include <windows.h>

#include "Services/ControlRequestBox.h"
#include "Services/PauseLatch.h"
#include "Services/ServiceMessageQueue.h"

class Win32ServiceQueue : public ServiceMessageQueue {
 public:
  // Creates the calling thread's message queue, so that requests can be posted to it from here
  // on. `latch` and `requests` are shared with the control handler.
  Win32ServiceQueue(PauseLatch& latch, ControlRequestBox& requests);

  // Waiting requests come first, before any window message.
  std::optional<ServiceMessage> Next() override;
  std::optional<ServiceMessage> TryNext() override;
  void Dispatch(const ServiceMessage& message) override;
  void Freeze() override;

 private:
  std::optional<ServiceMessage> WaitingRequest();
  static ServiceMessage WindowMessage(const MSG& msg);

  PauseLatch& latch_;
  ControlRequestBox& requests_;
};

// Keeps a control request for the service thread `threadId`, wakes its queue and a frozen
// thread. Returns false when there is no service thread to take it.
bool PostControlRequest(DWORD threadId, DWORD controlCode, PauseLatch& latch,
                        ControlRequestBox& requests);
