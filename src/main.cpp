// Program entry: wires the real platform and runs the service host, or, with a switch,
// registers or removes the service, or checks or updates from the command line.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"
#include "Services/AdminCommands.h"
#include "Services/HeadlessMessages.h"
#include "Services/KORVAL_Update_Service.h"
#include "Services/OutcomeReporter.h"
#include "Services/ServiceInstaller.h"
#include "Services/ServiceRecovery.h"
#include "Services/ServiceSettings.h"
#include "Services/ServiceSwitches.h"
#include "Services/StatusCommand.h"
#include "win32/DesktopCheck.h"
#include "win32/ProgramFolder.h"
#include "win32/ServiceHost.h"
#include "win32/ServiceRegistration.h"
#include "win32/Win32Console.h"
#include "win32/Win32CycleLock.h"
#include "win32/Win32DllLoadProbe.h"
#include "win32/Win32EventLog.h"
#include "win32/Win32MessageBoxes.h"
#include "win32/Win32OutcomeEventLog.h"
#include "win32/Win32Platform.h"
#include "win32/Win32StatusFileStore.h"
#include "win32/Win32Timer.h"
#include "win32/WinHttpProxy.h"

namespace {

// The program's arguments, without its own name.
std::vector<std::wstring> ProgramArguments() {
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments;
  for (int i = 1; list != nullptr && i < count; ++i) arguments.emplace_back(list[i]);
  if (list != nullptr) LocalFree(list);
  return arguments;
}

std::wstring ProgramFile() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring FileNameOf(const std::wstring& path) {
  std::size_t slash = path.find_last_of(L"\\/:");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The exchange's load probe: a process of its own that only loads the new DLL.
  if (int code = 0; RunDllLoadProbeSwitch(ProgramArguments(), code)) return code;
  // Captures the regional settings now: the run log's time stamps keep the formats the process
  // started with.
  Win32Platform platform(ProgramFolder());
  // Every outcome an administrator alerts on becomes an event with its own ID; the status file
  // follows every start and cycle, of the service and of /UPDATE alike.
  Win32OutcomeEventLog outcomeLog(ServiceSettings::Name);
  Win32StatusFileStore statusFiles;
  Win32VersionReader statusVersions;
  OutcomeReporter reporter(outcomeLog, statusFiles, platform.SystemClock(), statusVersions,
                           UnixTimeNow);
  platform.Engine().outcomes = &reporter;
  Win32TimerFactory timers;
  Win32CycleLock cycleLock(*platform.Engine().files);
  TKORVAL_Update_Service module(
      timers, platform.SystemClock(),
      [&platform] { return std::make_unique<TDLLSynchronisierer>(platform.Engine()); }, cycleLock);

  const std::wstring programFile = ProgramFile();
  const std::wstring programFileName = FileNameOf(programFile);
  const ServiceSwitches switches = ParseServiceSwitches(ProgramArguments());
  if (switches.Mode() == ProgramMode::Usage) {
    Win32Console console;
    for (const std::wstring& line : UsageText()) console.WriteLine(line);
    return kExitUsage;
  }
  if (switches.Mode() == ProgramMode::Status) {
    Win32Console console;
    return RunStatusCommand(platform.Engine(), statusFiles, console);
  }
  if (switches.Mode() == ProgramMode::Check || switches.Mode() == ProgramMode::Update) {
    Win32Console console;
    if (switches.Mode() == ProgramMode::Update) {
      return RunUpdateCommand(platform.Engine(), cycleLock, console);
    }
    const int code = RunCheckCommand(platform.Engine(), console);
    // Which way the check went: an administrator compares it with what the service would take.
    if (const std::optional<ProxyDecision> proxy = LastProxyDecision()) {
      console.WriteLine(DescribeProxy(*proxy));
    }
    return code;
  }
  if (switches.Mode() != ProgramMode::RunService) {
    Win32RegistryKeys registry;
    Win32MessageBoxes boxes(ServiceSettings::Name);
    std::optional<Win32Console> console;
    Win32EventLog eventLog;
    std::optional<HeadlessMessages> headless;
    if (!DesktopIsVisible()) {
      console.emplace();
      headless.emplace(*console, eventLog, programFileName);
    }
    RegistrationPlatform registration;
    registration.openDatabase = OpenServiceDatabase;
    registration.afterInstall = [&] { module.ServiceAfterInstall(registry); };
    registration.registerEventSources = [&] {
      RegisterEventSources(registry, programFile, programFileName);
    };
    registration.removeEventSources = [&] { RemoveEventSources(registry, programFileName); };
    registration.messages = headless ? static_cast<RegistrationMessages*>(&*headless) : &boxes;
    registration.programFile = programFile;
    registration.programFileName = programFileName;
    return RunRegistration(switches.Mode(), switches.silent, registration);
  }

  Win32EventLog eventLog;
  RunServiceHost(module, eventLog, EventSources{ServiceSettings::Name, programFileName});
  return 0;
}
