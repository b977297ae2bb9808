#pragma once
// Registration and removal of the service with the command-line switches: the order of the
// steps, the message boxes and the process's exit code.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Services/ServiceRecovery.h"
#include "Services/ServiceSwitches.h"

// What CreateServiceW receives, apart from the access rights.
struct ServiceRegistrationData {
  std::wstring serviceName;
  std::wstring displayName;
  std::uint32_t serviceType = 0;
  std::uint32_t startType = 0;
  std::uint32_t errorControl = 0;
  std::wstring binaryPath;
  bool operator==(const ServiceRegistrationData&) const = default;
};

// The program path as registered: enclosed in double quotes when it holds a blank.
std::wstring RegisteredProgramPath(const std::wstring& programFile);

// The registration data of this program's service for the program file `programFile`.
ServiceRegistrationData MakeRegistrationData(const std::wstring& programFile);

// The Service Control Manager, opened with full access. Destroying it closes the service handle
// it holds, then its own. Every operation raises an Exception (EOSError for a platform error).
class ServiceDatabase {
 public:
  virtual ~ServiceDatabase() = default;
  // Creates the service and holds its handle.
  virtual void CreateEntry(const ServiceRegistrationData& data) = 0;
  // Opens the service by name with full access and holds its handle.
  virtual void OpenEntry(const std::wstring& serviceName) = 0;
  // Deletes the service whose handle it holds.
  virtual void DeleteEntry() = 0;
  // Stops the service whose handle it holds, when it runs, and waits until it has stopped; a
  // service that is not running is no error. Raises EOSError (1053) when it has not stopped
  // after timeoutMs.
  virtual void StopEntry(unsigned timeoutMs) = 0;
  // Sets the recovery actions of the service whose handle it holds, and with
  // actions.onNonCrashFailures the flag that runs them after a stop with an exit code too.
  // Answers false when the platform lacks either (ERROR_INVALID_LEVEL); raises for any other
  // failure.
  virtual bool SetFailureActions(const FailureActions& actions) = 0;
};

// The registration's message boxes: modal, a single OK button.
class RegistrationMessages {
 public:
  virtual ~RegistrationMessages() = default;
  virtual void ShowInformation(const std::wstring& text) = 0;
  virtual void ShowError(const std::wstring& text) = 0;
  // The "Anwendungsfehler" box.
  virtual void ShowApplicationError(const std::wstring& text) = 0;
};

struct RegistrationPlatform {
  // Opens the Service Control Manager of this machine; raises when it cannot.
  std::function<std::unique_ptr<ServiceDatabase>()> openDatabase;
  // The module's ServiceAfterInstall.
  std::function<void()> afterInstall;
  // Registers the event sources after the description; raises when one cannot be written.
  std::function<void()> registerEventSources;
  // Removes the event sources; one that is not registered is no error.
  std::function<void()> removeEventSources;
  RegistrationMessages* messages = nullptr;
  std::wstring programFile;      // the full path of the program file
  std::wstring programFileName;  // its name alone
};

// How long a removal waits for the running service to stop before it gives up: deleting a
// running service only marks it for deletion, and a later registration would fail (1072).
inline constexpr unsigned kUninstallStopWaitMs = 30000;

// Registers (ProgramMode::Install: the service, its description, its event sources, its
// recovery actions) or removes (ProgramMode::Uninstall: the service, then its event sources) the
// service, after stopping it) and reports the outcome. Returns the process's exit code: 0 on
// success; the platform's error code when the failure text or the "Anwendungsfehler" box (a
// Service Control Manager that does not open, 5 without administrative rights) was shown; 1 when
// the error carries none.
int RunRegistration(ProgramMode mode, bool silent, const RegistrationPlatform& platform);
