#pragma once
// The one lock that keeps two update cycles on the same host apart: the service's own ticks and
// an update started from the command line. It lives in the service's protected download folder,
// where only SYSTEM and the administrators can make anything.

#include <string>

class CycleLock {
 public:
  virtual ~CycleLock() = default;
  // Waits up to `milliseconds` for the lock; answers whether it is now held. A lock left behind
  // by a process that ended without releasing it counts as acquired. Raises Exception when the
  // lock cannot be reached at all: no folder claimed, or the folder missing or not proven the
  // service's all the way up.
  virtual bool TryAcquire(unsigned milliseconds) = 0;
  // Gives up a lock that TryAcquire acquired.
  virtual void Release() = 0;
  // The lock lives in `folder` from now on. When the folder exists and is proven the service's,
  // a lock left there that belongs to an account other than SYSTEM, the Administrators or this
  // process's own, or that is a link, is removed; raises Exception with a text for the event log
  // when it cannot be. A folder that is missing or not proven yet is no failure here: the lock
  // then cannot be taken until it is.
  virtual void Claim(const std::wstring& folder) = 0;
};
