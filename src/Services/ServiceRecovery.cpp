#include "Services/ServiceRecovery.h"

#include "Services/ServiceRegistryKeys.h"
#include "Services/ServiceSettings.h"

namespace {
constexpr std::uint32_t kRestartDelayMs = 60000;
constexpr std::uint32_t kOneDaySeconds = 24 * 60 * 60;
const std::wstring kEventLogApplication =
    L"\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
}  // namespace

FailureActions ServiceFailureActions() {
  FailureActions result;
  result.resetPeriodSeconds = kOneDaySeconds;
  result.actions = {{RecoveryAction::Restart, kRestartDelayMs},
                    {RecoveryAction::Restart, kRestartDelayMs},
                    {RecoveryAction::None, 0}};
  result.onNonCrashFailures = true;
  return result;
}

std::vector<std::wstring> EventSourceKeys(const std::wstring& programFileName) {
  return {kEventLogApplication + ServiceSettings::Name, kEventLogApplication + programFileName};
}

void RegisterEventSources(ServiceRegistryKeys& registry, const std::wstring& programFile,
                          const std::wstring& programFileName) {
  for (const std::wstring& key : EventSourceKeys(programFileName)) {
    registry.WriteEventSource(key, programFile, kEventTypesSupported);
  }
}

void RemoveEventSources(ServiceRegistryKeys& registry, const std::wstring& programFileName) {
  for (const std::wstring& key : EventSourceKeys(programFileName)) {
    registry.DeleteKeyIfPresent(key);
  }
}
