#include "Services/ControlRequestBox.h"

#include "Services/ControlRules.h"

namespace {
bool EndsTheService(std::uint32_t code) { return code == ControlStop || code == ControlShutdown; }
}  // namespace

void ControlRequestBox::Post(std::uint32_t controlCode) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(controlCode);
  if (EndsTheService(controlCode)) ++stopsWaiting_;
}

std::optional<std::uint32_t> ControlRequestBox::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (requests_.empty()) return std::nullopt;
  const std::uint32_t code = requests_.front();
  requests_.pop_front();
  if (EndsTheService(code)) --stopsWaiting_;
  return code;
}

bool ControlRequestBox::StopPending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopsWaiting_ > 0;
}
