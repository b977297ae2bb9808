#pragma once
// The outcomes' entries in the Application log, under the service's event source.

#include <string>

#include "platform/OutcomeEventLog.h"

class Win32OutcomeEventLog : public OutcomeEventLog {
 public:
  explicit Win32OutcomeEventLog(std::wstring source) : source_(std::move(source)) {}
  void Write(const OutcomeEvent& event) noexcept override;

 private:
  std::wstring source_;
};
