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
  void WriteEventSource(const std::wstring& key, const std::wstring& messageFile,
                        std::uint32_t types) override {
    if (key == failingKey) throw Exception(L"fails " + key);
    eventSources.push_back({key, messageFile, types});
  }
  void DeleteKeyIfPresent(const std::wstring& key) override {
    if (key == failingKey) throw Exception(L"fails " + key);
    deletedKeys.push_back(key);
  }
  struct EventSource {
    std::wstring key;
    std::wstring messageFile;
    std::uint32_t types = 0;
    bool operator==(const EventSource&) const = default;
  };

  bool keyMissing = false;
  std::wstring failingKey;  // the event-source key whose write or deletion raises
  std::vector<EventSource> eventSources;
  std::vector<std::wstring> deletedKeys;
  std::wstring failure;  // raised by a write when not empty
  std::vector<Write> writes;
};
