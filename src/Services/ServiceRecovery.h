#pragma once
// What the service registers beyond the Service Control Manager's own data: the recovery
// actions after a failure, and the event sources under which its entries show their text.

#include <cstdint>
#include <string>
#include <vector>

class ServiceRegistryKeys;

// One recovery action, as SC_ACTION holds it.
struct RecoveryAction {
  enum Type : std::uint32_t { None = 0, Restart = 1 };
  Type type = None;
  std::uint32_t delayMilliseconds = 0;
  bool operator==(const RecoveryAction&) const = default;
};

// The failure actions, as SERVICE_FAILURE_ACTIONS holds them: the n-th failure within the reset
// period runs the n-th action, and every later one the last. Without onNonCrashFailures
// (SERVICE_FAILURE_ACTIONS_FLAG) a failure is only a process that ends without having reported
// SERVICE_STOPPED; with it, also a SERVICE_STOPPED report whose dwWin32ExitCode is not 0, which
// is how this service ends after a failed start or a failed loop.
struct FailureActions {
  std::uint32_t resetPeriodSeconds = 0;
  std::vector<RecoveryAction> actions;
  bool onNonCrashFailures = false;
  bool operator==(const FailureActions&) const = default;
};

// Restart 60 s after the first and the second failure (a crash, or a stop with an exit code such
// as a failed start), then leave the service stopped: a service that fails a third time within a
// day needs an administrator. The count starts again after a day without a failure.
FailureActions ServiceFailureActions();

// The registry keys of the service's two event sources below HKEY_LOCAL_MACHINE: the service
// name (the service's own entries) and the program file's name (the host's entries).
std::vector<std::wstring> EventSourceKeys(const std::wstring& programFileName);

// Error, warning and information entries (the EVENTLOG_*_TYPE bits 1, 2 and 4).
inline constexpr std::uint32_t kEventTypesSupported = 7;

// Writes both event sources, each with the program file as its message file. Raises Exception
// when a key or value cannot be written.
void RegisterEventSources(ServiceRegistryKeys& registry, const std::wstring& programFile,
                          const std::wstring& programFileName);
// Removes both event sources; a source that is not registered is no error.
void RemoveEventSources(ServiceRegistryKeys& registry, const std::wstring& programFileName);
