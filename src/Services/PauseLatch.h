#pragma once
// Freezes a paused service thread until the control handler posts the next control request.
// Counts requests instead of keeping a flag: the pause request's own wake-up must not end the
// freeze it causes, and a request posted just before the freeze must not be lost.

#include <condition_variable>
#include <cstdint>
#include <mutex>

class PauseLatch {
 public:
  // Control handler, after it posted a request.
  void RequestPosted();
  // Service thread, whenever it takes a control request from its queue.
  void RequestTaken();
  // Service thread: blocks while every posted request has been taken.
  void WaitForRequest();
  // Whether a posted request has not been taken yet.
  bool RequestWaiting();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  // A request may be taken before the handler counts it, so `taken_` can run one ahead.
  std::int64_t posted_ = 0;
  std::int64_t taken_ = 0;
};
