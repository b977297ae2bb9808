#pragma once
// The registry, as far as the service's description and its event sources need it.

#include <cstdint>
#include <string>

class ServiceRegistryKeys {
 public:
  virtual ~ServiceRegistryKeys() = default;
  // Opens the existing key `keyPath` below HKEY_LOCAL_MACHINE (a leading backslash means the
  // root) for reading and writing, without creating it, and writes the string value `name`.
  // Returns false and writes nothing when the key does not open. Raises Exception when the
  // value cannot be written.
  virtual bool WriteStringIfKeyOpens(const std::wstring& keyPath, const std::wstring& name,
                                     const std::wstring& value) = 0;
  // Creates the key `keyPath` (and its missing parents) and writes the values "EventMessageFile"
  // (REG_EXPAND_SZ) and "TypesSupported" (REG_DWORD). Raises Exception when it cannot.
  virtual void WriteEventSource(const std::wstring& keyPath, const std::wstring& messageFile,
                                std::uint32_t typesSupported) = 0;
  // Deletes the key `keyPath` with its values; a key that does not exist is no error. Raises
  // Exception when it cannot.
  virtual void DeleteKeyIfPresent(const std::wstring& keyPath) = 0;
};
