#include "win32/ServiceRegistration.h"

#include <windows.h>

#include "Services/OSError.h"
#include "win32/Win32Error.h"

namespace {

constexpr DWORD ManagerAccess = 0xF003F;    // SC_MANAGER_ALL_ACCESS
constexpr DWORD ServiceAccess = 0xF01FF;    // SERVICE_ALL_ACCESS
constexpr REGSAM RegistryAccess = 0x2001F;  // KEY_READ | KEY_WRITE

class Win32ServiceDatabase : public ServiceDatabase {
 public:
  explicit Win32ServiceDatabase(SC_HANDLE manager) : manager_(manager) {}
  ~Win32ServiceDatabase() override {
    if (service_ != nullptr) CloseServiceHandle(service_);
    CloseServiceHandle(manager_);
  }

  void CreateEntry(const ServiceRegistrationData& data) override {
    service_ = CreateServiceW(manager_, data.serviceName.c_str(), data.displayName.c_str(),
                              ServiceAccess, data.serviceType, data.startType, data.errorControl,
                              data.binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, L"");
    if (service_ == nullptr) RaiseOSError(GetLastError());
  }

  void OpenEntry(const std::wstring& serviceName) override {
    service_ = OpenServiceW(manager_, serviceName.c_str(), ServiceAccess);
    if (service_ == nullptr) RaiseOSError(GetLastError());
  }

  void DeleteEntry() override {
    if (!DeleteService(service_)) RaiseOSError(GetLastError());
  }

 private:
  SC_HANDLE manager_;
  SC_HANDLE service_ = nullptr;
};

}  // namespace

[[gnu::noinline]] void RaiseOSError(DWORD code) {
  throw EOSError(code, SystemError(code).Message(),
                 reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

std::unique_ptr<ServiceDatabase> OpenServiceDatabase() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, ManagerAccess);
  if (manager == nullptr) RaiseOSError(GetLastError());
  return std::make_unique<Win32ServiceDatabase>(manager);
}

bool Win32RegistryKeys::WriteStringIfKeyOpens(const std::wstring& keyPath, const std::wstring& name,
                                              const std::wstring& value) {
  // A leading backslash names the key from the root; the platform wants it without one.
  const std::wstring relative =
      !keyPath.empty() && keyPath[0] == L'\\' ? keyPath.substr(1) : keyPath;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, relative.c_str(), 0, RegistryAccess, &key) != ERROR_SUCCESS)
    return false;
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  LONG result = RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) RaiseOSError(static_cast<DWORD>(result));
  return true;
}
