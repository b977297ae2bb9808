#pragma once
// The Windows event log: one error entry per call (type 1, category 0, event ID 0, one string).

#include "platform/EventSink.h"

class Win32EventLog : public EventSink {
 public:
  // Registers `source` for this one entry and deregisters it again. A log that cannot be
  // reached loses the entry: there is nowhere else to report it.
  void ReportError(const std::wstring& source, const std::wstring& text) override;
};
