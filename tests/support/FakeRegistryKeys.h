#pragma once
// A registry that records the values written, with a key that may be missing or a write that
// may fail.

#include <string>
#include <vector>

#include "Services/ServiceRegistryKeys.h"
#include "core/Exception.h"

class FakeRegistryKeys : public ServiceRegistryKeys {
 public:
  struct Write {
    std::wstring key;
    std::wstring name;
    std::wstring value;
    bool operator==(const Write&) const = default;
  };
  bool WriteStringIfKeyOpens(const std::wstring& key, const std::wstring& name,
                             const std::wstring& value) override {
    if (keyMissing) return false;
    if (!failure.empty()) throw Exception(failure);
    writes.push_back({key, name, value});
    return true;
  }
  bool keyMissing = false;
  std::wstring failure;  // raised by a write when not empty
  std::vector<Write> writes;
};
