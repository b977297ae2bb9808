#include "Services/ServiceStatus.h"

#include "Services/ServiceSettings.h"

bool IsPending(TCurrentStatus status) {
  switch (status) {
    case TCurrentStatus::csStartPending:
    case TCurrentStatus::csStopPending:
    case TCurrentStatus::csContinuePending:
    case TCurrentStatus::csPausePending:
      return true;
    default:
      return false;
  }
}

ServiceStatusReport MakeStatusReport(TCurrentStatus status, std::optional<TCurrentStatus> previous,
                                     std::uint32_t failure) {
  ServiceStatusReport report;
  report.serviceType = ServiceSettings::ServiceType;
  report.currentState = static_cast<std::uint32_t>(status);
  report.controlsAccepted =
      status == TCurrentStatus::csStartPending ? 0 : ControlsAcceptedWhileRunning;
  report.checkPoint = IsPending(status) && previous == status ? 1 : 0;
  report.waitHint = ServiceSettings::WaitHintMilliseconds;
  if (status == TCurrentStatus::csStopped && failure != 0) {
    report.win32ExitCode = kErrorServiceSpecificError;
    report.serviceSpecificExitCode = failure;
  }
  return report;
}

void ServiceStatusKeeper::Report(TCurrentStatus status) {
  ServiceStatusReport report = MakeStatusReport(status, lastReported_, failure_);
  current_ = status;
  lastReported_ = status;
  sink_.Report(report);
}
