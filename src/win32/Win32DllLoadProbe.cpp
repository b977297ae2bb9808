#include "win32/Win32DllLoadProbe.h"

#include <windows.h>

#include "core/SystemError.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

namespace {
constexpr DWORD kProbeWaitMs = 30000;

std::wstring ProgramFile() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) RaiseSystemError(GetLastError());
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
}
}  // namespace

std::optional<std::wstring> Win32DllLoadProbe::WhyNotLoadable(const std::wstring& path) {
  const std::wstring program = ProgramFile();
  std::wstring line = L"\"" + program + L"\" " + kLoadProbeSwitch + L" \"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &info)) {
    const DWORD error = GetLastError();
    return FormatSystemErrorMessage(error, PlatformErrorText(error));
  }
  UniqueHandle process(info.hProcess), thread(info.hThread);
  if (WaitForSingleObject(info.hProcess, kProbeWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 5000);  // the copy can only go once it is unmapped
    return L"Die DLL wurde nach 30 Sekunden noch nicht geladen.";
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(info.hProcess, &code)) code = GetLastError();
  if (code == 0) return std::nullopt;
  return FormatSystemErrorMessage(code, PlatformErrorText(code));
}

// Loaded as a worker process would, with the DLL's own folder first in the search for its
// dependencies; no dialog may wait for an answer nobody gives.
bool RunDllLoadProbeSwitch(const std::vector<std::wstring>& arguments, int& exitCode) {
  if (arguments.size() != 2 ||
      CompareStringOrdinal(arguments[0].c_str(), -1, kLoadProbeSwitch, -1, TRUE) != CSTR_EQUAL) {
    return false;
  }
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  HMODULE module = LoadLibraryExW(arguments[1].c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD error = module ? 0 : GetLastError();
  exitCode = module ? 0 : static_cast<int>(error ? error : ERROR_DLL_INIT_FAILED);
  return true;
}
