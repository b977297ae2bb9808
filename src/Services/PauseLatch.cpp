#include "Services/PauseLatch.h"

void PauseLatch::RequestPosted() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++posted_;
  }
  changed_.notify_all();
}

void PauseLatch::RequestTaken() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++taken_;
}

void PauseLatch::WaitForRequest() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return posted_ > taken_; });
}

bool PauseLatch::RequestWaiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return posted_ > taken_;
}
