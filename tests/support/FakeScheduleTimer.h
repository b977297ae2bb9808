#pragma once
// Schedule timers in memory: every creation, handler, interval and destruction is recorded in
// order, and a test fires the live timer's tick by hand.

#include <memory>
#include <string>
#include <vector>

#include "Services/ScheduleTimer.h"

class FakeScheduleTimerFactory : public ScheduleTimerFactory {
 public:
  std::unique_ptr<ScheduleTimer> Create() override;

  // "create", "handler" (armed with the interval then current), "interval <ms>", "destroy".
  std::vector<std::string> events;
  int alive = 0;
  // The most recently created timer while it lives.
  ScheduleTimer* current = nullptr;
  // Runs the live timer's tick handler; false when there is no live timer with a handler.
  bool Fire();
  // When set, the next Create raises Exception("Nicht genügend Timer verfügbar").
  bool failNextCreate = false;

 private:
  friend class FakeScheduleTimer;
  std::function<void()> handler_;
};

class FakeScheduleTimer : public ScheduleTimer {
 public:
  explicit FakeScheduleTimer(FakeScheduleTimerFactory& factory);
  ~FakeScheduleTimer() override;
  void SetOnTimer(std::function<void()> handler) override;
  void SetInterval(unsigned milliseconds) override;
  unsigned Interval() const override { return interval_; }

 private:
  FakeScheduleTimerFactory& factory_;
  unsigned interval_ = 1000;
};
