// Test helper: drives a service through the Service Control Manager and prints what it reports.
//   svcctl start NAME                       StartServiceW
//   svcctl control NAME CODE                ControlService (1 stop, 2 pause, 3 continue,
//                                           4 interrogate, 128-255 custom); prints the status
//   svcctl status NAME                      QueryServiceStatus
//   svcctl config NAME                      QueryServiceConfigW, one key=value per line
//   svcctl wait NAME STATE TIMEOUT_MS       polls until the state is reached
//   svcctl delete NAME                      DeleteService
// Output is UTF-8. Exit code 0 on success; 2 and "error=<code>" when a call fails; 3 when a wait
// times out; 4 for a bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "Utf8Output.h"
#include "win32/ScopedHandle.h"

namespace {

int Fail(DWORD code) {
  PrintUtf8(L"error=" + std::to_wstring(code) + L"\n");
  return 2;
}

std::wstring StatusLine(const SERVICE_STATUS& s) {
  return L"state=" + std::to_wstring(s.dwCurrentState) + L" controls=" +
         std::to_wstring(s.dwControlsAccepted) + L" checkpoint=" + std::to_wstring(s.dwCheckPoint) +
         L" waithint=" + std::to_wstring(s.dwWaitHint) + L" type=" +
         std::to_wstring(s.dwServiceType) + L" exit=" + std::to_wstring(s.dwWin32ExitCode) +
         L" specific=" + std::to_wstring(s.dwServiceSpecificExitCode) + L"\n";
}

struct Handles {
  UniqueServiceHandle manager;
  UniqueServiceHandle service;  // declared last: closed before the manager
};

// Opens the named service; returns 0 or the error code.
DWORD Open(Handles& h, const wchar_t* name) {
  h.manager.Reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!h.manager) return GetLastError();
  h.service.Reset(OpenServiceW(h.manager.Get(), name, SERVICE_ALL_ACCESS));
  if (!h.service) return GetLastError();
  return 0;
}

std::wstring Text(const wchar_t* text) { return text ? text : L""; }

// A double-NUL list as "a/b/c".
std::wstring MultiText(const wchar_t* list) {
  std::wstring out;
  for (const wchar_t* p = list; p && *p; p += wcslen(p) + 1) {
    if (!out.empty()) out += L"/";
    out += p;
  }
  return out;
}

int Config(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfigW(service, nullptr, 0, &needed);
  std::string buffer(needed + 1, '\0');
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service, config, needed, &needed)) return Fail(GetLastError());
  PrintUtf8(L"type=" + std::to_wstring(config->dwServiceType) + L"\n" + L"start=" +
            std::to_wstring(config->dwStartType) + L"\n" + L"error=" +
            std::to_wstring(config->dwErrorControl) + L"\n" + L"binary=" +
            Text(config->lpBinaryPathName) + L"\n" + L"group=" + Text(config->lpLoadOrderGroup) +
            L"\n" + L"tag=" + std::to_wstring(config->dwTagId) + L"\n" + L"dependencies=" +
            MultiText(config->lpDependencies) + L"\n" + L"account=" +
            Text(config->lpServiceStartName) + L"\n" + L"display=" + Text(config->lpDisplayName) +
            L"\n");
  return 0;
}

int Wait(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  SERVICE_STATUS status = {};
  for (;;) {
    if (!QueryServiceStatus(service, &status)) return Fail(GetLastError());
    if (status.dwCurrentState == state) {
      PrintUtf8(StatusLine(status));
      return 0;
    }
    if (GetTickCount64() >= end) break;
    Sleep(50);
  }
  PrintUtf8(L"timeout " + StatusLine(status));
  return 3;
}

int Usage() {
  PrintUtf8(L"usage: svcctl start|control|status|config|wait|delete NAME [ARGS]\n");
  return 4;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring command = argv[1];
  Handles h;
  if (DWORD error = Open(h, argv[2])) return Fail(error);
  const SC_HANDLE service = h.service.Get();
  SERVICE_STATUS status = {};
  if (command == L"start") {
    if (!StartServiceW(service, 0, nullptr)) return Fail(GetLastError());
    PrintUtf8(L"ok\n");
    return 0;
  }
  if (command == L"control" && argc == 4) {
    if (!ControlService(service, wcstoul(argv[3], nullptr, 10), &status))
      return Fail(GetLastError());
    PrintUtf8(StatusLine(status));
    return 0;
  }
  if (command == L"status") {
    if (!QueryServiceStatus(service, &status)) return Fail(GetLastError());
    PrintUtf8(StatusLine(status));
    return 0;
  }
  if (command == L"config") return Config(service);
  if (command == L"wait" && argc == 5)
    return Wait(service, wcstoul(argv[3], nullptr, 10), wcstoul(argv[4], nullptr, 10));
  if (command == L"delete") {
    if (!DeleteService(service)) return Fail(GetLastError());
    PrintUtf8(L"ok\n");
    return 0;
  }
  return Usage();
}
