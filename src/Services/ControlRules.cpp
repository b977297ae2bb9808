#include "Services/ControlRules.h"

ControlPlan PlanControl(std::uint32_t code, TCurrentStatus current) {
  ControlPlan plan;
  switch (code) {
    case ControlStop:
      plan.reports = {TCurrentStatus::csStopPending};
      plan.callsServiceStop = true;
      plan.endsLoop = true;
      break;
    case ControlPause:
      plan.reports = {TCurrentStatus::csPausePending, TCurrentStatus::csPaused};
      plan.freezes = true;
      break;
    case ControlContinue:
      plan.reports = {TCurrentStatus::csContinuePending, TCurrentStatus::csRunning};
      break;
    case ControlInterrogate:
      plan.reports = {current};
      break;
    case ControlShutdown:
      // Ends the service without ServiceStop.
      plan.reports = {TCurrentStatus::csStopPending};
      plan.endsLoop = true;
      break;
    default:
      break;
  }
  return plan;
}
