#pragma once
// What the service thread calls on the service module at start and at a stop request.

class ServiceEvents {
 public:
  virtual ~ServiceEvents() = default;
  // Called with Started true. Raises when the service cannot start.
  virtual void ServiceStart(bool& Started) = 0;
  // Called with Stopped true; false keeps the service running.
  virtual void ServiceStop(bool& Stopped) = 0;
};
