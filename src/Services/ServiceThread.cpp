#include "Services/ServiceThread.h"

#include "Services/ControlRules.h"
#include "Services/ServiceMessages.h"
#include "core/CaughtError.h"

void ServiceThread::Run(ServiceMessageQueue& queue) {
  if (!Start()) return;
  try {
    status_.Report(TCurrentStatus::csRunning);
    bool ended = false;
    while (!ended) {
      std::optional<ServiceMessage> message = queue.Next();
      if (!message) break;
      ended = Handle(queue, *message);
    }
    // Requests queued behind the one that ended the loop are still answered, in order.
    while (std::optional<ServiceMessage> message = queue.TryNext()) Handle(queue, *message);
  } catch (...) {
    status_.NoteFailure(kServiceExitExecuteFailed);
    eventLog_.ReportError(sources_.service, ServiceFailedText(L"execute", CaughtErrorMessage()));
  }
}

bool ServiceThread::Start() {
  try {
    status_.Report(TCurrentStatus::csStartPending);
    bool started = true;
    events_.ServiceStart(started);
    return started;
  } catch (...) {
    status_.NoteFailure(kServiceExitStartFailed);
    eventLog_.ReportError(sources_.service, ServiceFailedText(L"start", CaughtErrorMessage()));
    return false;
  }
}

bool ServiceThread::Handle(ServiceMessageQueue& queue, const ServiceMessage& message) {
  if (message.isControlRequest) return HandleControl(queue, message.controlCode);
  try {
    queue.Dispatch(message);
  } catch (...) {
    // A tick must never end the service: its error is the host's to report.
    eventLog_.ReportError(sources_.host, CaughtErrorMessage());
  }
  return false;
}

bool ServiceThread::HandleControl(ServiceMessageQueue& queue, std::uint32_t code) {
  const TCurrentStatus before = status_.Current();
  const ControlPlan plan = PlanControl(code, before);
  try {
    for (TCurrentStatus status : plan.reports) status_.Report(status);
    if (plan.callsServiceStop) {
      bool stopped = true;
      events_.ServiceStop(stopped);
      if (!stopped) {
        status_.Report(before);
        return false;
      }
    }
    if (plan.freezes) queue.Freeze();
    return plan.endsLoop;
  } catch (...) {
    eventLog_.ReportError(sources_.service, ControlFailedText(code, CaughtErrorMessage()));
    if (code == ControlShutdown) return true;
    try {
      status_.Report(before);
    } catch (...) {
      eventLog_.ReportError(sources_.service, ControlFailedText(code, CaughtErrorMessage()));
    }
    return false;
  }
}
