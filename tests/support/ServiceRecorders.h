#pragma once
// Records of what the service host reports: status reports and event-log entries.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/EventSink.h"
#include "Services/ServiceStatus.h"
#include "support/Journal.h"

// Status name for journals: "StartPending", "Running", ...
std::string StatusName(TCurrentStatus status);
std::string StatusName(std::uint32_t state);

class RecordingStatusSink : public StatusSink {
 public:
  explicit RecordingStatusSink(Journal* journal = nullptr) : journal_(journal) {}
  void Report(const ServiceStatusReport& report) override;
  std::vector<ServiceStatusReport> Reports();
  std::vector<std::uint32_t> States();
  // Raises Exception(message) for the next report of `state` (once).
  void FailNextReportOf(TCurrentStatus state, std::wstring message);

 private:
  Journal* journal_;
  std::mutex mutex_;
  std::vector<ServiceStatusReport> reports_;
  std::uint32_t failState_ = 0;
  std::wstring failMessage_;
};

struct LoggedEvent {
  std::wstring source;
  std::wstring text;
  bool operator==(const LoggedEvent&) const = default;
};

class RecordingEventSink : public EventSink {
 public:
  explicit RecordingEventSink(Journal* journal = nullptr) : journal_(journal) {}
  void ReportError(const std::wstring& source, const std::wstring& text) override;
  std::vector<LoggedEvent> Events();

 private:
  Journal* journal_;
  std::mutex mutex_;
  std::vector<LoggedEvent> events_;
};
