#pragma once
// The host's mapped modules over the fake file system: a file's identity is drawn from its bytes
// (a renamed file keeps it), and the modules are what the test puts in `mapped`.

#include <functional>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "platform/LoadedModules.h"
#include "support/FakeFileSystem.h"

class FakeLoadedModules : public LoadedModules {
 public:
  explicit FakeLoadedModules(FakeFileSystem& files) : files_(files) {}

  MappedFileId IdentityOf(const std::wstring& path) override {
    const auto file = files_.files.find(path);
    if (file == files_.files.end()) throw Exception(L"Das System kann die Datei nicht finden.");
    return Identity(file->second);
  }
  std::vector<MappedModule> ModulesNamed(const std::wstring&) override {
    ++looks;
    if (!failure.empty()) throw Exception(failure);
    return mapped;
  }
  static MappedFileId Identity(const std::string& bytes) {
    return {7, std::hash<std::string>{}(bytes)};
  }
  // A worker of pool that loaded the file with these bytes under path.
  static MappedModule Worker(std::uint32_t id, const std::wstring& pool, const std::wstring& path,
                             const std::string& bytes) {
    return {
        id,   L"w3wp.exe",     L"c:\\windows\\system32\\inetsrv\\w3wp.exe -ap \"" + pool + L"\" -v",
        path, Identity(bytes), true};
  }

  std::vector<MappedModule> mapped;
  std::wstring failure;  // raised by ModulesNamed when set
  int looks = 0;

 private:
  FakeFileSystem& files_;
};
