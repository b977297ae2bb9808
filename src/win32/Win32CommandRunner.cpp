#include "win32/Win32CommandRunner.h"

#include <windows.h>

#include "core/Exception.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

namespace {
// appcmd's answers are a few lines; anything beyond this is not read.
constexpr std::size_t kMaxOutputBytes = 64 * 1024;
constexpr DWORD kPollMs = 10;

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) RaiseSystemError(GetLastError());
  return std::wstring(folder, length) + L"\\";
}

// Reads what the pipe holds now without blocking; answers false when the pipe is closed.
bool Drain(HANDLE pipe, std::string& bytes) {
  DWORD available = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
  while (available > 0) {
    char buffer[4096];
    DWORD read = 0;
    const DWORD want = available < sizeof buffer ? available : sizeof buffer;
    if (!ReadFile(pipe, buffer, want, &read, nullptr) || read == 0) return false;
    if (bytes.size() < kMaxOutputBytes) bytes.append(buffer, read);
    available -= read;
  }
  return true;
}

std::wstring Decode(const std::string& bytes) {
  if (bytes.empty()) return L"";
  const int length = static_cast<int>(bytes.size());
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  text.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), length, text.data(), length)));
  return text;
}
}  // namespace

// The output is polled rather than read on a thread: a command that does not end is ended here,
// but a child it started may keep the pipe open, and a blocked read would never return.
CommandOutput Win32CommandRunner::Run(const std::wstring& parameters, unsigned timeoutMs) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) RaiseSystemError(GetLastError());
  UniqueHandle reader(readEnd), writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  const std::wstring folder = SystemFolder();
  const std::wstring program = folder + L"cmd.exe";
  std::wstring line = L"cmd.exe " + parameters;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = nullptr;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, folder.c_str(), &startup, &info)) {
    RaiseSystemError(GetLastError());
  }
  UniqueHandle process(info.hProcess), thread(info.hThread);
  writer.Reset();
  std::string bytes;
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    const bool open = Drain(readEnd, bytes);
    if (WaitForSingleObject(info.hProcess, kPollMs) == WAIT_OBJECT_0) {
      Drain(readEnd, bytes);
      break;
    }
    if (!open) continue;  // the pipe closed early; the process still decides the result
    if (GetTickCount64() >= end) {
      TerminateProcess(info.hProcess, 1);
      throw Exception(L"Der Befehl \"cmd.exe " + parameters + L"\" ist nach " +
                      std::to_wstring(timeoutMs / 1000) + L" Sekunden nicht beendet.");
    }
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(info.hProcess, &code)) RaiseSystemError(GetLastError());
  return CommandOutput{code, Decode(bytes), bytes};
}
