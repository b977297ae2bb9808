#pragma once
// The service thread's message queue: control requests posted by the control handler and the
// messages of the thread's windows (the schedule timer's ticks), in one queue.

#include <cstdint>
#include <optional>

// Thread message number of a control request; the control code is its first parameter.
inline constexpr std::uint32_t ControlRequestMessage = 0x0400 + 1;

struct ServiceMessage {
  bool isControlRequest = false;
  std::uint32_t controlCode = 0;  // when isControlRequest
  // A window message, as the queue took it; only the queue that made it reads these.
  std::uintptr_t window = 0;
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

class ServiceMessageQueue {
 public:
  virtual ~ServiceMessageQueue() = default;
  // Waits for the next message and takes it. std::nullopt when the queue was told to quit.
  // Raises when the queue fails.
  virtual std::optional<ServiceMessage> Next() = 0;
  // Takes the next message without waiting; std::nullopt when none is queued.
  virtual std::optional<ServiceMessage> TryNext() = 0;
  // Hands a window message to its window. Raises what the window's handler raised.
  virtual void Dispatch(const ServiceMessage& message) = 0;
  // Blocks until a control request has been posted that the thread has not taken yet; returns
  // at once when one is already waiting.
  virtual void Freeze() = 0;
};
