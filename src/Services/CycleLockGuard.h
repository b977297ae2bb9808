#pragma once
// Holds the cycle lock for one scope when it could be acquired.

#include "platform/CycleLock.h"

class CycleLockGuard {
 public:
  CycleLockGuard(CycleLock& lock, unsigned milliseconds)
      : lock_(lock), held_(lock.TryAcquire(milliseconds)) {}
  ~CycleLockGuard() {
    if (held_) lock_.Release();
  }
  CycleLockGuard(const CycleLockGuard&) = delete;
  CycleLockGuard& operator=(const CycleLockGuard&) = delete;
  bool Held() const { return held_; }

 private:
  CycleLock& lock_;
  bool held_;
};
