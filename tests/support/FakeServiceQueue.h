#pragma once
// A service thread's message queue in memory, safe across threads: the test posts control
// requests (as the control handler does, waking a frozen thread through the real PauseLatch) and
// ticks; the service thread takes them in order. Records "tick", "freeze" and "thaw".

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "Services/PauseLatch.h"
#include "Services/ServiceMessageQueue.h"
#include "support/Journal.h"

class FakeServiceQueue : public ServiceMessageQueue {
 public:
  explicit FakeServiceQueue(Journal& journal) : journal_(journal) {}

  // As the control handler: queues the request, then wakes a frozen thread.
  void PostControl(std::uint32_t code);
  // Queues a tick of the schedule timer; its dispatch runs `onTick` (which may raise).
  void PostTick(std::function<void()> onTick = {});
  // Makes Next() answer std::nullopt once the queue is empty.
  void Quit();
  // Makes the next Next() raise Exception(message).
  void FailNextTake(std::wstring message);

  std::optional<ServiceMessage> Next() override;
  std::optional<ServiceMessage> TryNext() override;
  void Dispatch(const ServiceMessage& message) override;
  void Freeze() override;

 private:
  ServiceMessage TakeFront();

  Journal& journal_;
  PauseLatch latch_;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<ServiceMessage> messages_;
  std::map<std::uintptr_t, std::function<void()>> tickHandlers_;
  std::uintptr_t nextTick_ = 1;
  bool quit_ = false;
  std::wstring failMessage_;
};
