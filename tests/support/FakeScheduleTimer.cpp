#include "support/FakeScheduleTimer.h"

#include "core/Exception.h"

std::unique_ptr<ScheduleTimer> FakeScheduleTimerFactory::Create() {
  if (failNextCreate) {
    failNextCreate = false;
    throw Exception(L"Nicht genügend Timer verfügbar");
  }
  auto timer = std::make_unique<FakeScheduleTimer>(*this);
  current = timer.get();
  return timer;
}

bool FakeScheduleTimerFactory::Fire() {
  if (current == nullptr || !handler_) return false;
  handler_();
  return true;
}

FakeScheduleTimer::FakeScheduleTimer(FakeScheduleTimerFactory& factory) : factory_(factory) {
  factory_.events.push_back("create");
  ++factory_.alive;
  factory_.handler_ = nullptr;
}

FakeScheduleTimer::~FakeScheduleTimer() {
  factory_.events.push_back("destroy");
  --factory_.alive;
  if (factory_.current == this) {
    factory_.current = nullptr;
    factory_.handler_ = nullptr;
  }
}

void FakeScheduleTimer::SetOnTimer(std::function<void()> handler) {
  factory_.handler_ = std::move(handler);
  factory_.events.push_back("handler");
}

void FakeScheduleTimer::SetInterval(unsigned milliseconds) {
  interval_ = milliseconds;
  factory_.events.push_back("interval " + std::to_string(milliseconds));
}
