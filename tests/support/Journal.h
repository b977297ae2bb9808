#pragma once
// An ordered record of what happened, shared by the fakes of one test and safe across threads.
// Lets a test wait for an entry instead of sleeping.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class Journal {
 public:
  void Add(std::string entry);
  std::vector<std::string> Entries();
  // Waits until `entry` has been added `count` times; false after the guard time (a hang).
  bool WaitFor(const std::string& entry, int count = 1,
               std::chrono::milliseconds guard = std::chrono::seconds(10));
  // The position of the n-th (0-based) occurrence of entry, or -1.
  int IndexOf(const std::string& entry, int occurrence = 0);
  int Count(const std::string& entry);

 private:
  std::mutex mutex_;
  std::condition_variable added_;
  std::vector<std::string> entries_;
};
