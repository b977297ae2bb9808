#pragma once
// The event log, as far as the service host writes to it: error entries with one text.

#include <string>

class EventSink {
 public:
  virtual ~EventSink() = default;
  // Writes one error entry (category 0, event ID 0) under `source`. Never raises.
  virtual void ReportError(const std::wstring& source, const std::wstring& text) = 0;
};

// The two event sources: the service's own entries and the host's.
struct EventSources {
  std::wstring service;  // the service name
  std::wstring host;     // the program file's name
};
