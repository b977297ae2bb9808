#include "win32/ServiceHost.h"

#include <windows.h>

#include <atomic>
#include <vector>

#include "core/CaughtError.h"
#include "Services/PauseLatch.h"
#include "Services/ServiceMainRoutine.h"
#include "Services/ServiceMessages.h"
#include "Services/ServiceSettings.h"
#include "Services/ServiceThread.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"
#include "win32/Win32ServiceQueue.h"

namespace {

// The platform calls the service's main routine and the control handler with nothing but their
// arguments: they reach the host through this one process-wide pointer.
struct Host {
  Host(ServiceEvents& m, EventSink& log, EventSources names)
      : module(m), eventLog(log), sources(std::move(names)) {}
  ServiceEvents& module;
  EventSink& eventLog;
  EventSources sources;
  DWORD mainThreadId = 0;
  DWORD dispatcherError = 0;
  SERVICE_STATUS_HANDLE statusHandle = nullptr;
  std::vector<std::wstring> startArguments;  // recorded, read by nobody
  PauseLatch latch;
  ControlRequestBox requests;
  std::atomic<DWORD> serviceThreadId{0};
};
Host* host = nullptr;

class Win32StatusSink : public StatusSink {
 public:
  explicit Win32StatusSink(SERVICE_STATUS_HANDLE handle) : handle_(handle) {}
  void Report(const ServiceStatusReport& report) override {
    SERVICE_STATUS status = {report.serviceType,
                             report.currentState,
                             report.controlsAccepted,
                             report.win32ExitCode,
                             report.serviceSpecificExitCode,
                             report.checkPoint,
                             report.waitHint};
    if (!SetServiceStatus(handle_, &status)) RaiseSystemError(GetLastError());
  }

 private:
  SERVICE_STATUS_HANDLE handle_;
};

void WINAPI ControlHandler(DWORD controlCode) {
  // Hands the request over and returns at once; the service thread handles it in order once the
  // cycle it may be running has ended. A stop also ends a running download early, through
  // ServiceStopPending.
  PostControlRequest(host->serviceThreadId.load(), controlCode, host->latch, host->requests);
}

struct ServiceThreadContext {
  ServiceStatusKeeper& status;
};

DWORD WINAPI ServiceThreadMain(void* parameter) {
  auto* context = static_cast<ServiceThreadContext*>(parameter);
  try {
    Win32ServiceQueue queue(host->latch, host->requests);
    host->serviceThreadId = GetCurrentThreadId();
    ServiceThread(host->module, context->status, host->eventLog, host->sources).Run(queue);
  } catch (...) {
    host->eventLog.ReportError(host->sources.service,
                               ServiceFailedText(L"execute", CaughtErrorMessage()));
  }
  host->serviceThreadId = 0;
  return 0;
}

void RunServiceThreadAndWait(ServiceStatusKeeper& status) {
  ServiceThreadContext context{status};
  const UniqueHandle thread(CreateThread(nullptr, 0, ServiceThreadMain, &context, 0, nullptr));
  if (!thread) RaiseSystemError(GetLastError());
  WaitForSingleObject(thread.Get(), INFINITE);
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  if (argc > 0 && CompareStringOrdinal(argv[0], -1, ServiceSettings::Name, -1, TRUE) != CSTR_EQUAL)
    return;
  for (DWORD i = 1; i < argc; ++i) host->startArguments.emplace_back(argv[i]);
  host->statusHandle = RegisterServiceCtrlHandlerW(ServiceSettings::Name, ControlHandler);
  if (host->statusHandle == nullptr) {
    host->eventLog.ReportError(host->sources.service, PlatformErrorText(GetLastError()));
    return;
  }
  Win32StatusSink sink(host->statusHandle);
  ServiceStatusKeeper status(sink);
  RunServiceMain(status, host->eventLog, host->sources,
                 [&status] { RunServiceThreadAndWait(status); });
}

DWORD WINAPI DispatcherThreadMain(void*) {
  wchar_t name[] = L"KORVAL_Update_Service";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) host->dispatcherError = GetLastError();
  PostThreadMessageW(host->mainThreadId, WM_QUIT, 0, 0);
  return 0;
}

void RunMainLoop() {
  MSG msg;
  for (;;) {
    try {
      BOOL result = GetMessageW(&msg, nullptr, 0, 0);
      if (result == 0) return;
      if (result == -1) RaiseSystemError(GetLastError());
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    } catch (...) {
      host->eventLog.ReportError(host->sources.host, CaughtErrorMessage());
    }
  }
}

}  // namespace

bool ServiceStopPending() {
  const Host* state = host;
  return state != nullptr && state->requests.StopPending();
}

void RunServiceHost(ServiceEvents& module, EventSink& eventLog, const EventSources& sources) {
  Host state(module, eventLog, sources);
  host = &state;
  state.mainThreadId = GetCurrentThreadId();
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue the dispatcher ends

  const UniqueHandle dispatcher(
      CreateThread(nullptr, 0, DispatcherThreadMain, nullptr, 0, nullptr));
  if (!dispatcher) {
    eventLog.ReportError(sources.host, PlatformErrorText(GetLastError()));
    host = nullptr;
    return;
  }
  RunMainLoop();
  WaitForSingleObject(dispatcher.Get(), INFINITE);
  if (state.dispatcherError != 0) {
    eventLog.ReportError(sources.host, PlatformErrorText(state.dispatcherError));
  }
  host = nullptr;
}
