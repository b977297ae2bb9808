#pragma once
// The Service Control Manager and the registry as the registration switches use them.

#include <windows.h>

#include <memory>

#include "Services/ServiceInstaller.h"
#include "Services/ServiceRegistryKeys.h"

// Opens the Service Control Manager of this machine with full access (0xF003F). Raises EOSError
// when it does not open.
std::unique_ptr<ServiceDatabase> OpenServiceDatabase();

// The registry below HKEY_LOCAL_MACHINE, opened with read and write access (0x2001F).
class Win32RegistryKeys : public ServiceRegistryKeys {
 public:
  bool WriteStringIfKeyOpens(const std::wstring& keyPath, const std::wstring& name,
                             const std::wstring& value) override;
  void WriteEventSource(const std::wstring& keyPath, const std::wstring& messageFile,
                        std::uint32_t typesSupported) override;
  void DeleteKeyIfPresent(const std::wstring& keyPath) override;
};

// Raises EOSError for `code`, with the address of the call that failed.
[[noreturn]] void RaiseOSError(DWORD code);
