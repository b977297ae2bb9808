#include "Services/ServiceMainRoutine.h"

#include "Services/ServiceMessages.h"
#include "core/CaughtError.h"

void RunServiceMain(ServiceStatusKeeper& status, EventSink& eventLog, const EventSources& sources,
                    const std::function<void()>& runServiceThreadAndWait) {
  try {
    status.Report(TCurrentStatus::csStartPending);
    runServiceThreadAndWait();
  } catch (...) {
    status.NoteFailure(kServiceExitExecuteFailed);
    eventLog.ReportError(sources.service, ServiceFailedText(L"execute", CaughtErrorMessage()));
  }
  try {
    status.Report(TCurrentStatus::csStopped);
  } catch (...) {
    eventLog.ReportError(sources.service, ServiceFailedText(L"execute", CaughtErrorMessage()));
  }
}
