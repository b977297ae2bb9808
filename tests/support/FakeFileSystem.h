#pragma once
// In-memory files and folders for the download and exchange. Every change is recorded in a
// timeline that a test can share with other fakes to check the order of events.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

class FakeFileSystem : public FileSystem {
 public:
  explicit FakeFileSystem(std::vector<std::wstring>& timeline) : timeline_(timeline) {}

  bool DirectoryExists(const std::wstring& path) override;
  void CreateDirectories(const std::wstring& path) override;
  void CopyOver(const std::wstring& source, const std::wstring& target) override;
  void ReplaceWith(const std::wstring& source, const std::wstring& target) override;
  void RemoveIfExists(const std::wstring& path) noexcept override;
  std::string ReadHead(const std::wstring& path, std::size_t maxBytes) override;

  std::map<std::wstring, std::string> files;
  std::set<std::wstring> folders;  // without trailing backslash
  bool failFolderCreation = false;
  std::set<std::wstring> failingCopyTargets;
  // Replacing this target raises FileBusyError this many more times (-1: always).
  std::map<std::wstring, int> busyTargets;

 private:
  std::vector<std::wstring>& timeline_;
};

// The folder part of a path (up to, without, the last backslash).
std::wstring ParentFolder(const std::wstring& path);
