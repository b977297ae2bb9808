#include "support/FakeServiceQueue.h"

#include "core/Exception.h"

namespace {
constexpr std::uint32_t TimerMessage = 0x0113;
}

void FakeServiceQueue::PostControl(std::uint32_t code) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ServiceMessage message;
    message.isControlRequest = true;
    message.controlCode = code;
    messages_.push_back(message);
  }
  posted_.notify_all();
  latch_.RequestPosted();
}

void FakeServiceQueue::PostTick(std::function<void()> onTick) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ServiceMessage message;
    message.message = TimerMessage;
    message.wParam = nextTick_++;
    tickHandlers_[message.wParam] = std::move(onTick);
    messages_.push_back(message);
  }
  posted_.notify_all();
}

void FakeServiceQueue::Quit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  posted_.notify_all();
}

void FakeServiceQueue::FailNextTake(std::wstring message) {
  std::lock_guard<std::mutex> lock(mutex_);
  failMessage_ = std::move(message);
}

ServiceMessage FakeServiceQueue::TakeFront() {
  ServiceMessage message = messages_.front();
  messages_.pop_front();
  if (message.isControlRequest) latch_.RequestTaken();
  return message;
}

std::optional<ServiceMessage> FakeServiceQueue::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!failMessage_.empty()) {
    std::wstring text = std::move(failMessage_);
    failMessage_.clear();
    throw Exception(text);
  }
  posted_.wait(lock, [this] { return !messages_.empty() || quit_; });
  if (messages_.empty()) return std::nullopt;
  return TakeFront();
}

std::optional<ServiceMessage> FakeServiceQueue::TryNext() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.empty()) return std::nullopt;
  return TakeFront();
}

void FakeServiceQueue::Dispatch(const ServiceMessage& message) {
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handler = tickHandlers_[message.wParam];
  }
  journal_.Add("tick");
  if (handler) handler();
}

void FakeServiceQueue::Freeze() {
  journal_.Add("freeze");
  latch_.WaitForRequest();
  journal_.Add("thaw");
}
