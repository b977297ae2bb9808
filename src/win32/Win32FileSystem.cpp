#include "win32/Win32FileSystem.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "core/Exception.h"
#include "core/ServiceFolderSecurity.h"
#include "win32/FileHandleIo.h"
#include "win32/HeldFolders.h"
#include "win32/ScopedHandle.h"
#include "win32/SecurityInfo.h"
#include "win32/Win32Error.h"
#include "win32/Win32HeldFile.h"

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

[[noreturn]] void RaiseFileError(DWORD error) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
      error == ERROR_LOCK_VIOLATION) {
    throw FileBusyError(SystemError(error).Message());
  }
  RaiseSystemError(error);
}

// A link, or a file reachable under more than one name.
bool IsLinked(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return true;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1;
}

// Sets the owner and access list the SDDL text gives, as far as which says.
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
  if (RenameInFolder(source, target, true)) return;
  RaiseFileError(GetLastError());
}

void Win32FileSystem::RemoveIfExists(const std::wstring& path) noexcept { DeleteInFolder(path); }

std::string Win32FileSystem::ReadHead(const std::wstring& path, std::size_t maxBytes) {
  UniqueFile file =
      OpenInFolder(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!file) RaiseSystemError(GetLastError());
  return HeadOf(file.Get(), maxBytes);
}

std::unique_ptr<HeldFile> Win32FileSystem::HoldAgainstWriters(const std::wstring& path) {
  UniqueFile file = OpenInFolder(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!file) RaiseSystemError(GetLastError());
  return std::make_unique<Win32HeldFile>(std::move(file));
}

std::unique_ptr<HeldFile> Win32FileSystem::HoldUnchanged(const std::wstring& path) {
  UniqueFile file =
      OpenInFolder(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!file) RaiseSystemError(GetLastError());
  return std::make_unique<Win32HeldFile>(std::move(file));
}

void Win32FileSystem::MoveAside(const std::wstring& source, const std::wstring& target) {
  if (!RenameInFolder(source, target, false)) RaiseFileError(GetLastError());
}

bool Win32FileSystem::FileExists(const std::wstring& path) {
  // A file opened as itself, never through a link; a folder does not open here.
  UniqueFile file = OpenInFolder(path, FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!file) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(file.Get(), &info) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> Win32FileSystem::FileNamesStartingWith(const std::wstring& folder,
                                                                 const std::wstring& prefix) {
  std::vector<std::wstring> names;
  for (std::wstring& name : FileNamesInFolder(folder).value_or(std::vector<std::wstring>{})) {
    if (name.size() >= prefix.size() &&
        CompareStringOrdinal(name.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                             static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL) {
      names.push_back(std::move(name));
    }
  }
  return names;
}

void Win32FileSystem::AppendDurably(const std::wstring& path, const std::string& bytes) {
  UniqueFile file = OpenInFolder(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH);
  if (!file) RaiseSystemError(GetLastError());
  WriteAll(file.Get(), bytes.data(), bytes.size());
  if (!FlushFileBuffers(file.Get())) RaiseSystemError(GetLastError());
}

std::optional<std::string> Win32FileSystem::ReadWhole(const std::wstring& path) {
  UniqueFile file =
      OpenInFolder(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!file) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    RaiseSystemError(error);
  }
  std::string bytes;
  ReadFromStart(file.Get(), [&](const char* data, DWORD read) { bytes.append(data, read); });
  return bytes;
}

std::optional<OwnedFile> Win32FileSystem::ReadWholeWithOwner(const std::wstring& path) {
  // The link itself is opened, never what it points to.
  UniqueFile file = OpenInFolder(path, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT);
  if (!file) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    RaiseSystemError(error);
  }
  OwnedFile owned;
  owned.linked = IsLinked(file.Get());
  owned.ownerSid = OwnerSidOf(file.Get(), SE_FILE_OBJECT);
  if (!owned.linked) {
    ReadFromStart(file.Get(),
                  [&](const char* data, DWORD read) { owned.bytes.append(data, read); });
  }
  return owned;
}

std::wstring Win32FileSystem::OwnerOf(const std::wstring& path) {
  // No access to the bytes, so that sharing never stands in the way.
  UniqueFile file(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || IsLinked(file.Get())) return L"";
  return OwnerSidOf(file.Get(), SE_FILE_OBJECT);
}

std::wstring Win32FileSystem::OwnAccountSid() { return ProcessAccountSid(); }

void Win32FileSystem::ProtectProbeCopy(const std::wstring& path) {
  ApplySddl(nullptr, path, ProbeCopySddl(),
            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION);
}
