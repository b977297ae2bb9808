#include "win32/ServiceRegistration.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "Services/OSError.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

namespace {

constexpr DWORD ManagerAccess = 0xF003F;    // SC_MANAGER_ALL_ACCESS
constexpr DWORD ServiceAccess = 0xF01FF;    // SERVICE_ALL_ACCESS
constexpr REGSAM RegistryAccess = 0x2001F;  // KEY_READ | KEY_WRITE
constexpr DWORD ErrorInvalidLevel = 124;    // the platform knows no such configuration

// A leading backslash names the key from the root; the platform wants it without one.
std::wstring RelativeKey(const std::wstring& keyPath) {
  return !keyPath.empty() && keyPath[0] == L'\\' ? keyPath.substr(1) : keyPath;
}

void SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  const LONG result = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
  if (result != ERROR_SUCCESS) RaiseOSError(static_cast<DWORD>(result));
}

class Win32ServiceDatabase : public ServiceDatabase {
 public:
  explicit Win32ServiceDatabase(UniqueServiceHandle manager) : manager_(std::move(manager)) {}

  void CreateEntry(const ServiceRegistrationData& data) override {
    UniqueServiceHandle service(
        CreateServiceW(manager_.Get(), data.serviceName.c_str(), data.displayName.c_str(),
                       ServiceAccess, data.serviceType, data.startType, data.errorControl,
                       data.binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, L""));
    if (!service) RaiseOSError(GetLastError());
    service_ = std::move(service);
  }

  void OpenEntry(const std::wstring& serviceName) override {
    UniqueServiceHandle service(OpenServiceW(manager_.Get(), serviceName.c_str(), ServiceAccess));
    if (!service) RaiseOSError(GetLastError());
    service_ = std::move(service);
  }

  void DeleteEntry() override {
    if (!DeleteService(service_.Get())) RaiseOSError(GetLastError());
  }

  // Polls with a bound: a service that is still starting cannot take a stop yet (1061, Wine
  // 1052), so the stop is sent once it runs or is paused.
  void StopEntry(unsigned timeoutMs) override {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool stopSent = false;
    for (;;) {
      SERVICE_STATUS status{};
      if (!QueryServiceStatus(service_.Get(), &status)) RaiseOSError(GetLastError());
      if (status.dwCurrentState == SERVICE_STOPPED) return;
      const bool takesStop = status.dwCurrentState == SERVICE_RUNNING ||
                             status.dwCurrentState == SERVICE_PAUSED;
      if (takesStop && !stopSent) {
        if (ControlService(service_.Get(), SERVICE_CONTROL_STOP, &status)) {
          stopSent = true;
        } else if (const DWORD error = GetLastError(); error != ERROR_SERVICE_NOT_ACTIVE &&
                                                       error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
          RaiseOSError(error);
        }
      }
      if (GetTickCount64() >= deadline) RaiseOSError(ERROR_SERVICE_REQUEST_TIMEOUT);
      Sleep(200);
    }
  }

  bool SetFailureActions(const FailureActions& actions) override {
    std::vector<SC_ACTION> list;
    for (const RecoveryAction& action : actions.actions) {
      list.push_back({static_cast<SC_ACTION_TYPE>(action.type), action.delayMilliseconds});
    }
    SERVICE_FAILURE_ACTIONSW data{};
    data.dwResetPeriod = actions.resetPeriodSeconds;
    data.cActions = static_cast<DWORD>(list.size());
    data.lpsaActions = list.data();
    if (!ChangeConfig(SERVICE_CONFIG_FAILURE_ACTIONS, &data)) return false;
    if (!actions.onNonCrashFailures) return true;
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    return ChangeConfig(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
  }

 private:
  // False when the platform knows no such configuration; raises for any other failure.
  bool ChangeConfig(DWORD level, void* data) {
    if (ChangeServiceConfig2W(service_.Get(), level, data)) return true;
    const DWORD error = GetLastError();
    if (error == ErrorInvalidLevel) return false;
    RaiseOSError(error);
  }

  UniqueServiceHandle manager_;
  UniqueServiceHandle service_;  // declared last: closed before the manager
};

}  // namespace

[[gnu::noinline]] void RaiseOSError(DWORD code) {
  throw EOSError(code, SystemError(code).Message(),
                 reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

std::unique_ptr<ServiceDatabase> OpenServiceDatabase() {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, ManagerAccess));
  if (!manager) RaiseOSError(GetLastError());
  return std::make_unique<Win32ServiceDatabase>(std::move(manager));
}

bool Win32RegistryKeys::WriteStringIfKeyOpens(const std::wstring& keyPath, const std::wstring& name,
                                              const std::wstring& value) {
  const std::wstring relative = RelativeKey(keyPath);
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, relative.c_str(), 0, RegistryAccess, &opened) !=
      ERROR_SUCCESS) {
    return false;
  }
  const UniqueRegistryKey key(opened);
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  LONG result = RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  if (result != ERROR_SUCCESS) RaiseOSError(static_cast<DWORD>(result));
  return true;
}

void Win32RegistryKeys::WriteEventSource(const std::wstring& keyPath,
                                         const std::wstring& messageFile,
                                         std::uint32_t typesSupported) {
  HKEY created = nullptr;
  const LONG result =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, RelativeKey(keyPath).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, RegistryAccess, nullptr, &created, nullptr);
  if (result != ERROR_SUCCESS) RaiseOSError(static_cast<DWORD>(result));
  const UniqueRegistryKey key(created);
  SetValue(key.Get(), L"EventMessageFile", REG_EXPAND_SZ, messageFile.c_str(),
           static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t)));
  const DWORD types = typesSupported;
  SetValue(key.Get(), L"TypesSupported", REG_DWORD, &types, sizeof(types));
}

void Win32RegistryKeys::DeleteKeyIfPresent(const std::wstring& keyPath) {
  const LONG result = RegDeleteTreeW(HKEY_LOCAL_MACHINE, RelativeKey(keyPath).c_str());
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    RaiseOSError(static_cast<DWORD>(result));
  }
}
