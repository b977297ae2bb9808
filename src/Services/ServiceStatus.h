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

// The service-specific exit codes of a service that stopped because it failed: the Service Control
// Manager then records the failure (event 7024) and runs the recovery actions.
inline constexpr std::uint32_t kErrorServiceSpecificError = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR
inline constexpr std::uint32_t kServiceExitStartFailed = 1;       // ServiceStart raised
inline constexpr std::uint32_t kServiceExitExecuteFailed = 2;     // the service's loop failed

// The report for `status`, given the status of the report before it (none for the first one).
// The checkpoint is 1 only when a pending status is reported twice in a row. A stopped report
// carries `failure` (a kServiceExit... code) as the service-specific exit code when it is not 0.
ServiceStatusReport MakeStatusReport(TCurrentStatus status, std::optional<TCurrentStatus> previous,
                                     std::uint32_t failure = 0);

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
  // Marks the service as failed: the final csStopped report carries the code. The first failure
  // is the one reported.
  void NoteFailure(std::uint32_t code) {
    if (failure_ == 0) failure_ = code;
  }

 private:
  StatusSink& sink_;
  TCurrentStatus current_ = TCurrentStatus::csStopped;
  std::optional<TCurrentStatus> lastReported_;
  std::uint32_t failure_ = 0;
};
