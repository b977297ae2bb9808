#pragma once
// The control requests that the control handler hands to the service thread, kept apart from the
// thread's message queue: a message loop that some platform call runs inside a cycle may take
// and drop the wake-up message, but never the request itself. Also tells, without waiting for the
// service thread, whether a stop or shutdown request is waiting, so that a running download can
// end early.

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

class ControlRequestBox {
 public:
  // Control handler: keeps the request for the service thread.
  void Post(std::uint32_t controlCode);
  // Service thread: the oldest request not taken yet.
  std::optional<std::uint32_t> Take();
  // Any thread: whether a stop or shutdown request waits to be taken.
  bool StopPending() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::uint32_t> requests_;
  int stopsWaiting_ = 0;
};
