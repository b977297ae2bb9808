#include "win32/Win32DllLoadProbe.h"

#include <windows.h>

#include <optional>

#include "core/SystemError.h"
#include "win32/RestrictedProcess.h"
#include "win32/Win32Error.h"

namespace {
constexpr DWORD kProbeWaitMs = 30000;

// NTSTATUS codes a process ends with when it could not even start: the program's own imports
// did not load or initialise under the restricted token. The DLL probed has not been touched.
constexpr DWORD kStatusDllNotFound = 0xC0000135;
constexpr DWORD kStatusEntryPointNotFound = 0xC0000139;
constexpr DWORD kStatusDllInitFailed = 0xC0000142;

std::wstring ProgramFile() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) RaiseSystemError(GetLastError());
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) RaiseSystemError(GetLastError());
  return std::wstring(folder, length);
}

// One argument as CommandLineToArgvW reads it back: backslashes before the closing quote doubled.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring quoted = L"\"" + argument;
  for (auto it = argument.rbegin(); it != argument.rend() && *it == L'\\'; ++it) quoted += L'\\';
  return quoted + L"\"";
}

LoadProbeAnswer AnswerOf(DWORD code) {
  using Kind = LoadProbeAnswer::Kind;
  switch (code) {
    case 0:
      return {Kind::Loaded, L""};
    case kLoadProbeBadArguments:
      return {Kind::NotRunnable, L"Die Ladeprobe hat ihre Argumente nicht angenommen."};
    case kLoadProbeSearchUnrestricted:
      return {Kind::NotRunnable,
              L"Die Ladeprobe kann die Suche nach DLLs nicht auf den Ordner von IIS, den "
              L"Systemordner und den Ordner der DLL beschränken."};
    case kStatusDllNotFound:
    case kStatusEntryPointNotFound:
    case kStatusDllInitFailed:
      return {Kind::NotRunnable, L"Die Ladeprobe konnte nicht starten: " +
                                     FormatSystemErrorMessage(code, PlatformErrorText(code))};
    default:
      return {Kind::NotLoadable, FormatSystemErrorMessage(code, PlatformErrorText(code))};
  }
}

// A full path: a drive letter and a backslash, or a UNC name.
bool IsFullPath(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
    return (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
  }
  return path.size() > 2 && path.rfind(L"\\\\", 0) == 0 && path[2] != L'\\';
}

bool ArgumentsAreSound(const std::vector<std::wstring>& arguments) {
  if (arguments.size() != 3) return false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& path = arguments[i];
    if (!IsFullPath(path) || path.size() >= 32767 ||
        path.find_first_of(std::wstring(L"\"*?<>|\0", 7)) != std::wstring::npos) {
      return false;
    }
  }
  return arguments[1].back() != L'\\';
}
}  // namespace

LoadProbeAnswer Win32DllLoadProbe::Probe(const std::wstring& path,
                                         const std::wstring& dependencyFolder) {
  std::optional<RestrictedProcess> probe;
  try {
    const std::wstring program = ProgramFile();
    probe.emplace(program,
                  Quoted(program) + L" " + kLoadProbeSwitch + L" " + Quoted(path) + L" " +
                      Quoted(dependencyFolder),
                  SystemFolder(), kProbeWaitMs);
  } catch (const Exception& e) {
    return {LoadProbeAnswer::Kind::NotRunnable, e.Message()};
  }
  DWORD code = 0;
  if (!probe->WaitForExit(kProbeWaitMs, code)) {
    probe->End();
    return {LoadProbeAnswer::Kind::NotLoadable,
            L"Die DLL wurde nach 30 Sekunden noch nicht geladen."};
  }
  return AnswerOf(code);
}

namespace {
// IIS's own folder, where the worker process w3wp.exe lives; empty when IIS is not installed
// (then no worker searches it either).
std::wstring IisFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"";
  const std::wstring inetsrv = std::wstring(folder, length) + L"\\inetsrv";
  const DWORD attributes = GetFileAttributesW(inetsrv.c_str());
  const bool folderThere =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return folderThere ? inetsrv : L"";
}
}  // namespace

// Loaded as a worker process would, but with only the folders searched that it searches and
// nobody else can write: IIS's folder (the worker's own, first in its search), the DLL's target
// folder, then the system folder; never the current folder or PATH. Windows searches folders
// added by AddDllDirectory before the system folder, among themselves in an order it does not
// fix; Wine searches the one added last first, so IIS's folder is added last. No dialog may wait
// for an answer nobody gives.
bool RunDllLoadProbeSwitch(const std::vector<std::wstring>& arguments, int& exitCode) {
  if (arguments.empty() ||
      CompareStringOrdinal(arguments[0].c_str(), -1, kLoadProbeSwitch, -1, TRUE) != CSTR_EQUAL) {
    return false;
  }
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  if (!ArgumentsAreSound(arguments)) {
    exitCode = kLoadProbeBadArguments;
    return true;
  }
  constexpr DWORD kSearch = LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS;
  const std::wstring iis = IisFolder();
  if (!SetDefaultDllDirectories(kSearch) || AddDllDirectory(arguments[2].c_str()) == nullptr ||
      (!iis.empty() && AddDllDirectory(iis.c_str()) == nullptr)) {
    exitCode = kLoadProbeSearchUnrestricted;
    return true;
  }
  HMODULE module = LoadLibraryExW(arguments[1].c_str(), nullptr, kSearch);
  const DWORD error = module ? 0 : GetLastError();
  exitCode = module ? 0 : static_cast<int>(error ? error : ERROR_DLL_INIT_FAILED);
  return true;
}
