#pragma once
// The service's status and what is reported to the Service Control Manager for it.

#include <cstdint>
#include <optional>

enum class TCurrentStatus : std::uint32_t {
  csStopped = 1,
  csStartPending = 2,
  csStopPending = 3,
  csRunning = 4,
  csContinuePending = 5,
  csPausePending = 6,
  csPaused = 7,
};

// The fields of one status report, in the order of SERVICE_STATUS.
struct ServiceStatusReport {
  std::uint32_t serviceType = 0;
  std::uint32_t currentState = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
  bool operator==(const ServiceStatusReport&) const = default;
};

inline constexpr std::uint32_t ControlsAcceptedWhileRunning =
    1 | 2 | 4;  // stop, pause+continue, shutdown

bool IsPending(TCurrentStatus status);

// The report for `status`, given the status of the report before it (none for the first one).
// The checkpoint is 1 only when a pending status is reported twice in a row.
ServiceStatusReport MakeStatusReport(TCurrentStatus status, std::optional<TCurrentStatus> previous);

// Where status reports go (SetServiceStatus on Windows). May raise Exception.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual void Report(const ServiceStatusReport& report) = 0;
};

// Holds the current status and reports every change at once. Used by one thread at a time: the
// service's main routine before and after the service thread, the service thread in between.
class ServiceStatusKeeper {
 public:
  explicit ServiceStatusKeeper(StatusSink& sink) : sink_(sink) {}

  // Makes `status` current and reports it. Raises what the sink raises.
  void Report(TCurrentStatus status);
  TCurrentStatus Current() const { return current_; }

 private:
  StatusSink& sink_;
  TCurrentStatus current_ = TCurrentStatus::csStopped;
  std::optional<TCurrentStatus> lastReported_;
};
