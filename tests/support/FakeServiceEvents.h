#pragma once
// A service module that records its start and stop calls, for tests of the service thread.

#include <functional>

#include "Services/ServiceEvents.h"
#include "support/Journal.h"

class FakeServiceEvents : public ServiceEvents {
 public:
  explicit FakeServiceEvents(Journal& journal) : journal_(journal) {}
  void ServiceStart(bool& Started) override {
    journal_.Add("ServiceStart");
    if (onStart) onStart(Started);
  }
  void ServiceStop(bool& Stopped) override {
    journal_.Add("ServiceStop");
    if (onStop) onStop(Stopped);
  }
  std::function<void(bool&)> onStart;  // may raise or change Started
  std::function<void(bool&)> onStop;   // may raise or change Stopped

 private:
  Journal& journal_;
};
