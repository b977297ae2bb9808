#include "support/ServiceRecorders.h"

#include "core/Exception.h"

std::string StatusName(std::uint32_t state) {
  static const char* const names[] = {"?",       "Stopped",         "StartPending", "StopPending",
                                      "Running", "ContinuePending", "PausePending", "Paused"};
  return state < 8 ? names[state] : "?";
}

std::string StatusName(TCurrentStatus status) {
  return StatusName(static_cast<std::uint32_t>(status));
}

void RecordingStatusSink::Report(const ServiceStatusReport& report) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failState_ != 0 && report.currentState == failState_) {
      failState_ = 0;
      throw Exception(failMessage_);
    }
    reports_.push_back(report);
  }
  if (journal_) journal_->Add("report:" + StatusName(report.currentState));
}

std::vector<ServiceStatusReport> RecordingStatusSink::Reports() {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

std::vector<std::uint32_t> RecordingStatusSink::States() {
  std::vector<std::uint32_t> states;
  for (const ServiceStatusReport& report : Reports()) states.push_back(report.currentState);
  return states;
}

void RecordingStatusSink::FailNextReportOf(TCurrentStatus state, std::wstring message) {
  std::lock_guard<std::mutex> lock(mutex_);
  failState_ = static_cast<std::uint32_t>(state);
  failMessage_ = std::move(message);
}

void RecordingEventSink::ReportError(const std::wstring& source, const std::wstring& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({source, text});
  }
  if (journal_) journal_->Add("event");
}

std::vector<LoggedEvent> RecordingEventSink::Events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}
