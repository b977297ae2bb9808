// Runs a program in a window station of its own that nobody sees, as a deployment script running
// as SYSTEM or a task run whether the user is logged on or not has one.
//   nodesktop.exe PROGRAM [ARGUMENTS...]
// The program inherits this tool's standard output; the tool exits with the program's exit code
// (255 when the station or the process cannot be made).
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: nodesktop.exe PROGRAM [ARGUMENTS...]\n");
    return 255;
  }
  HWINSTA station = CreateWindowStationW(L"KorvalOhneDesktop", 0, WINSTA_ALL_ACCESS, nullptr);
  if (station == nullptr) return std::fprintf(stderr, "station %lu\n", GetLastError()), 255;
  HWINSTA own = GetProcessWindowStation();
  SetProcessWindowStation(station);
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(own);
  if (desktop == nullptr) return std::fprintf(stderr, "desktop %lu\n", GetLastError()), 255;

  std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
  for (int i = 2; i < argc; ++i) command += L" \"" + std::wstring(argv[i]) + L"\"";
  wchar_t place[] = L"KorvalOhneDesktop\\Default";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = place;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return std::fprintf(stderr, "process %lu\n", GetLastError()), 255;
  }
  WaitForSingleObject(process.hProcess, 120000);
  DWORD code = 255;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
