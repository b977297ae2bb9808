#pragma once
// The registry, as far as the service's description needs it.

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
};
