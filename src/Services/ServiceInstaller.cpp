#include "Services/ServiceInstaller.h"

#include "Services/OSError.h"
#include "Services/ServiceMessages.h"
#include "Services/ServiceSettings.h"
#include "core/CaughtError.h"

std::wstring RegisteredProgramPath(const std::wstring& programFile) {
  if (programFile.find(L' ') == std::wstring::npos) return programFile;
  return L"\"" + programFile + L"\"";
}

ServiceRegistrationData MakeRegistrationData(const std::wstring& programFile) {
  ServiceRegistrationData data;
  data.serviceName = ServiceSettings::Name;
  data.displayName = ServiceSettings::DisplayName;
  data.serviceType = ServiceSettings::ServiceType;
  data.startType = ServiceSettings::StartType;
  data.errorControl = ServiceSettings::ErrorControl;
  data.binaryPath = RegisteredProgramPath(programFile);
  return data;
}

namespace {

constexpr int ExitCodeWithoutErrorCode = 1;

// Inside a catch block: the exit code for the error being handled.
int CaughtExitCode() {
  try {
    throw;
  } catch (const EOSError& e) {
    return e.ErrorCode() != 0 ? static_cast<int>(e.ErrorCode()) : ExitCodeWithoutErrorCode;
  } catch (...) {
    return ExitCodeWithoutErrorCode;
  }
}

std::uintptr_t CaughtCodeAddress() {
  try {
    throw;
  } catch (const EOSError& e) {
    return e.CodeAddress();
  } catch (...) {
    return 0;
  }
}

void Install(ServiceDatabase& database, const RegistrationPlatform& platform) {
  database.CreateEntry(MakeRegistrationData(platform.programFile));
  try {
    platform.afterInstall();
    if (platform.registerEventSources) platform.registerEventSources();
    // A platform without recovery actions still runs the service: that is no failed
    // registration.
    database.SetFailureActions(ServiceFailureActions());
  } catch (...) {
    // The registration fails as a whole: neither the service just created nor its event
    // sources stay behind.
    try {
      if (platform.removeEventSources) platform.removeEventSources();
    } catch (...) {
    }
    try {
      database.DeleteEntry();
    } catch (...) {
    }
    throw;
  }
}

void Uninstall(ServiceDatabase& database, const RegistrationPlatform& platform) {
  database.OpenEntry(ServiceSettings::Name);
  database.StopEntry(kUninstallStopWaitMs);
  database.DeleteEntry();
  if (platform.removeEventSources) platform.removeEventSources();
}

}  // namespace

int RunRegistration(ProgramMode mode, bool silent, const RegistrationPlatform& platform) {
  std::unique_ptr<ServiceDatabase> database;
  try {
    database = platform.openDatabase();
  } catch (...) {
    platform.messages->ShowApplicationError(
        ApplicationErrorText(CaughtErrorClassName(), platform.programFileName, CaughtCodeAddress(),
                             CaughtErrorMessage()));
    // A script tells "not elevated" (5) from other failures by the exit code.
    return CaughtExitCode();
  }
  const bool install = mode == ProgramMode::Install;
  try {
    if (install) {
      Install(*database, platform);
    } else {
      Uninstall(*database, platform);
    }
    database.reset();  // closes the service handle, then the manager's, before the box shows
  } catch (...) {
    database.reset();
    const std::wstring message = CaughtErrorMessage();
    platform.messages->ShowError(install
                                     ? InstallFailedText(ServiceSettings::DisplayName, message)
                                     : UninstallFailedText(ServiceSettings::DisplayName, message));
    return CaughtExitCode();
  }
  if (!silent) {
    platform.messages->ShowInformation(install ? InstallSucceededText() : UninstallSucceededText());
  }
  return 0;
}
