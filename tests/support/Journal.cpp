#include "support/Journal.h"

#include <algorithm>

void Journal::Add(std::string entry) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  added_.notify_all();
}

std::vector<std::string> Journal::Entries() {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

bool Journal::WaitFor(const std::string& entry, int count, std::chrono::milliseconds guard) {
  std::unique_lock<std::mutex> lock(mutex_);
  return added_.wait_for(
      lock, guard, [&] { return std::count(entries_.begin(), entries_.end(), entry) >= count; });
}

int Journal::IndexOf(const std::string& entry, int occurrence) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i] == entry && occurrence-- == 0) return static_cast<int>(i);
  }
  return -1;
}

int Journal::Count(const std::string& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count(entries_.begin(), entries_.end(), entry));
}
