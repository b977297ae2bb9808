#pragma once
// The one lock that keeps two update cycles on the same host apart: the service's own ticks and
// an update started from the command line.

class CycleLock {
 public:
  virtual ~CycleLock() = default;
  // Waits up to `milliseconds` for the lock; answers whether it is now held. A lock left behind
  // by a process that ended without releasing it counts as acquired. Raises Exception when the
  // lock cannot be reached at all.
  virtual bool TryAcquire(unsigned milliseconds) = 0;
  // Gives up a lock that TryAcquire acquired.
  virtual void Release() = 0;
  // Makes the lock's object now and keeps it for the life of the process, so that nobody can
  // put one of their own in its place. Raises Exception with a text for the event log when an
  // object of that name exists already and belongs to an account other than SYSTEM, the
  // Administrators or this process's own.
  virtual void Claim() = 0;
};
