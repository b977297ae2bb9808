#pragma once
// Where the engine's outcomes go: one event-log entry each, with its fixed ID, and the status
// file (and metrics) at every service start and after every cycle.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/OutcomeEvents.h"
#include "core/StatusReport.h"
#include "platform/Clock.h"
#include "platform/OutcomeEventLog.h"
#include "platform/OutcomeSink.h"
#include "platform/StatusFileStore.h"
#include "platform/VersionReader.h"

// Status.json in the run log's folder.
std::wstring StatusFilePath(const std::wstring& runLogPath);

// "2025-06-05T12:00:05".
std::wstring IsoLocalTime(const LocalTime& time);

// The program's own version, from the build.
std::wstring ProgramVersion();

class OutcomeReporter : public OutcomeSink {
 public:
  // unixNow gives the seconds since 1970 (UTC) for the metrics.
  OutcomeReporter(OutcomeEventLog& events, StatusFileStore& files, Clock& clock,
                  VersionReader& versions, std::function<std::int64_t()> unixNow)
      : events_(events),
        files_(files),
        clock_(clock),
        versions_(versions),
        unixNow_(std::move(unixNow)) {}

  void Report(Outcome outcome, const std::vector<std::wstring>& details) noexcept override;
  // Writes the status; at a start also reports a run-log folder that does not exist.
  void CycleEnded(const CycleSummary& summary) noexcept override;

 private:
  StatusZeit Jetzt();
  StatusBericht Ausgangsstand(const std::wstring& statusPath);
  void Schreibe(const StatusBericht& bericht, const CycleSummary& summary);

  OutcomeEventLog& events_;
  StatusFileStore& files_;
  Clock& clock_;
  VersionReader& versions_;
  std::function<std::int64_t()> unixNow_;
  RepeatThrottle throttle_;
  std::optional<StatusBericht> bericht_;     // what the status file says now
  std::optional<StatusZeit> installiertUm_;  // an update installed in the running cycle
};

// The summary of a start or a cycle of `engine`; in Services/StatusRecording.cpp.
class TDLLSynchronisierer;
CycleSummary SummarizeStart(const TDLLSynchronisierer& engine);
CycleSummary SummarizeCycle(const TDLLSynchronisierer& engine, bool failed);
// Tells the engine's sink, if it has one, while the folders of the status files are held (see
// TDLLSynchronisierer::HalteProtokollOrdner, HalteMetrikOrdner); nothing is written into one
// that is not the service's. Never raises.
void RecordStatus(TDLLSynchronisierer& engine, CycleSummary summary);
