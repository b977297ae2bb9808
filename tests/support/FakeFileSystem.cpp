#include "support/FakeFileSystem.h"

namespace {
std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}
}  // namespace

std::wstring ParentFolder(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L'\\');
  return end == std::wstring::npos ? std::wstring() : path.substr(0, end);
}

bool FakeFileSystem::DirectoryExists(const std::wstring& path) {
  return folders.count(WithoutTrailingBackslash(path)) > 0;
}

void FakeFileSystem::CreateDirectories(const std::wstring& path) {
  if (failFolderCreation) throw Exception(L"Zugriff verweigert");
  for (std::wstring folder = WithoutTrailingBackslash(path); !folder.empty();
       folder = ParentFolder(folder)) {
    folders.insert(folder);
  }
  timeline_.push_back(L"mkdir " + path);
}

void FakeFileSystem::CopyOver(const std::wstring& source, const std::wstring& target) {
  if (failingCopyTargets.count(target) || !files.count(source)) {
    throw Exception(L"Kopieren nach " + target + L" fehlgeschlagen");
  }
  files[target] = files[source];
  timeline_.push_back(L"copy " + target);
}

void FakeFileSystem::ReplaceWith(const std::wstring& source, const std::wstring& target) {
  auto busy = busyTargets.find(target);
  if (busy != busyTargets.end() && busy->second != 0) {
    if (busy->second > 0) --busy->second;
    timeline_.push_back(L"busy " + target);
    throw FileBusyError(L"Der Prozess kann nicht auf die Datei zugreifen");
  }
  auto found = files.find(source);
  if (found == files.end()) throw Exception(L"Datei nicht gefunden: " + source);
  files[target] = found->second;
  files.erase(source);
  timeline_.push_back(L"replace " + target);
}

void FakeFileSystem::RemoveIfExists(const std::wstring& path) noexcept { files.erase(path); }

std::string FakeFileSystem::ReadHead(const std::wstring& path, std::size_t maxBytes) {
  auto found = files.find(path);
  if (found == files.end()) throw Exception(L"Datei nicht gefunden: " + path);
  return found->second.substr(0, maxBytes);
}
