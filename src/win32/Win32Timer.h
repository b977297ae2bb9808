#pragma once
// The schedule timer as a window timer: a message-only window of the creating thread receives
// WM_TIMER through that thread's message queue, so ticks run on that thread, one at a time: a
// tick that a nested message loop dispatches while a tick handler runs is dropped.

#include <exception>
#include <memory>

#include "Services/ScheduleTimer.h"

class Win32TimerFactory : public ScheduleTimerFactory {
 public:
  // Must be called on the thread whose queue is to receive the ticks. Raises Exception when the
  // window cannot be created.
  std::unique_ptr<ScheduleTimer> Create() override;
};

// An error that left a tick handler on this thread since the last call, for the thread's
// message loop to report after DispatchMessageW has returned; exceptions must not unwind through
// the window manager's frames.
std::exception_ptr TakeTickError();
