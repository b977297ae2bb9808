#include "win32/Win32FileSystem.h"

#include <windows.h>

#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

namespace {
std::wstring WithoutTrailingBackslashes(std::wstring path) {
  while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

// "C:", "\\server\share" and "" need no creation: they exist or nothing can be done.
bool IsRootOrEmpty(const std::wstring& path) {
  if (path.empty() || (path.size() == 2 && path[1] == L':')) return true;
  if (path.rfind(L"\\\\", 0) == 0) {
    std::size_t serverEnd = path.find(L'\\', 2);
    return serverEnd == std::wstring::npos || path.find(L'\\', serverEnd + 1) == std::wstring::npos;
  }
  return false;
}
}  // namespace

bool Win32FileSystem::DirectoryExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  // A link counts only when its target can be opened.
  UniqueFile target(CreateFileW(path.c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return target.IsValid();
}

void Win32FileSystem::CreateDirectories(const std::wstring& path) {
  const std::wstring folder = WithoutTrailingBackslashes(path);
  if (IsRootOrEmpty(folder) || DirectoryExists(folder)) return;
  std::size_t parentEnd = folder.find_last_of(L"\\/");
  if (parentEnd != std::wstring::npos && parentEnd > 0)
    CreateDirectories(folder.substr(0, parentEnd));
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS || !DirectoryExists(folder)) RaiseSystemError(error);
  }
}

void Win32FileSystem::CopyOver(const std::wstring& source, const std::wstring& target) {
  if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) RaiseSystemError(GetLastError());
}

void Win32FileSystem::ReplaceWith(const std::wstring& source, const std::wstring& target) {
  if (MoveFileExW(source.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return;
  }
  DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
      error == ERROR_LOCK_VIOLATION) {
    throw FileBusyError(SystemError(error).Message());
  }
  RaiseSystemError(error);
}

void Win32FileSystem::RemoveIfExists(const std::wstring& path) noexcept {
  DeleteFileW(path.c_str());
}

std::string Win32FileSystem::ReadHead(const std::wstring& path, std::size_t maxBytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) RaiseSystemError(GetLastError());
  std::string head(maxBytes, '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), head.data(), static_cast<DWORD>(maxBytes), &read, nullptr)) {
    RaiseSystemError(GetLastError());
  }
  head.resize(read);
  return head;
}
