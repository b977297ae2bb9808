#include "win32/HeldFolders.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace {

std::wstring KeyOf(std::wstring folder) {
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
  for (wchar_t& c : folder) {
    if (c == L'/') c = L'\\';
  }
  return folder;
}

struct Registry {
  std::mutex mutex;
  std::map<std::wstring, std::vector<HANDLE>> held;  // key -> the handles holding it, oldest first
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// The held handle of the path's folder and the path's last component; null when not held.
HANDLE HeldFolderOf(const std::wstring& path, std::wstring& name) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos || slash + 1 >= path.size()) return nullptr;
  name = path.substr(slash + 1);
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.held.find(KeyOf(path.substr(0, slash + 1)));
  return found == registry.held.end() ? nullptr : found->second.front();
}

ULONG NtDisposition(DWORD disposition) {
  switch (disposition) {
    case CREATE_NEW:
      return FILE_CREATE;
    case CREATE_ALWAYS:
      return FILE_OVERWRITE_IF;
    case OPEN_ALWAYS:
      return FILE_OPEN_IF;
    case TRUNCATE_EXISTING:
      return FILE_OVERWRITE;
    default:
      return FILE_OPEN;
  }
}

UNICODE_STRING Counted(const std::wstring& text) {
  UNICODE_STRING counted;
  counted.Buffer = const_cast<PWSTR>(text.c_str());
  counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  return counted;
}

// The attributes a new file gets: those of CreateFileW's flags, without its FILE_FLAG_ options.
ULONG FileAttributesOf(DWORD flags) {
  const ULONG attributes = flags & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY);
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

UniqueFile OpenRelative(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                        DWORD disposition, DWORD flags) {
  UNICODE_STRING counted = Counted(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, folder, nullptr);
  ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE;
  if (flags & FILE_FLAG_OPEN_REPARSE_POINT) options |= FILE_OPEN_REPARSE_POINT;
  if (flags & FILE_FLAG_WRITE_THROUGH) options |= FILE_WRITE_THROUGH;
  if (flags & FILE_FLAG_DELETE_ON_CLOSE) {
    options |= FILE_DELETE_ON_CLOSE;
    access |= DELETE;
  }
  IO_STATUS_BLOCK status{};
  HANDLE file = nullptr;
  const NTSTATUS result = NtCreateFile(&file, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                                       &attributes, &status, nullptr, FileAttributesOf(flags),
                                       share, NtDisposition(disposition), options, nullptr, 0);
  if (result < 0) {
    SetLastError(RtlNtStatusToDosError(result));
    return UniqueFile();
  }
  return UniqueFile(file);
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

bool RenameByHandle(HANDLE file, HANDLE root, const std::wstring& name, bool replace) {
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFORMATION) +
                                    name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  info->ReplaceIfExists = replace;
  info->RootDirectory = root;
  info->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.data(), info->FileNameLength);
  IO_STATUS_BLOCK status{};
  const NTSTATUS result = NtSetInformationFile(
      file, &status, info, static_cast<ULONG>(buffer.size()), FileRenameInformation);
  if (result < 0) SetLastError(RtlNtStatusToDosError(result));
  return result >= 0;
}

constexpr NTSTATUS kObjectTypeMismatch = static_cast<NTSTATUS>(0xC0000024);

}  // namespace

FolderHold::FolderHold(std::wstring folder, UniqueFile handle)
    : folder_(KeyOf(std::move(folder))), handle_(std::move(handle)) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.held[folder_].push_back(handle_.Get());
}

FolderHold::~FolderHold() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.held.find(folder_);
  if (found == registry.held.end()) return;
  // A folder held twice stays reached through another handle until the last hold ends.
  std::vector<HANDLE>& handles = found->second;
  std::erase(handles, handle_.Get());
  if (handles.empty()) registry.held.erase(found);
}

UniqueFile OpenFolderForHold(const std::wstring& folder) {
  return UniqueFile(CreateFileW(
      folder.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

UniqueFile OpenInFolder(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                        DWORD flagsAndAttributes) {
  std::wstring name;
  if (HANDLE folder = HeldFolderOf(path, name)) {
    return OpenRelative(folder, name, access, share, disposition, flagsAndAttributes);
  }
  return UniqueFile(
      CreateFileW(path.c_str(), access, share, nullptr, disposition, flagsAndAttributes, nullptr));
}

bool RenameInFolder(const std::wstring& from, const std::wstring& to, bool replace) {
  std::wstring name, newName;
  HANDLE folder = HeldFolderOf(from, name);
  if (folder == nullptr || HeldFolderOf(to, newName) != folder) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  UniqueFile file =
      OpenRelative(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!file) return false;
  if (RenameByHandle(file.Get(), folder, newName, replace)) return true;
  if (GetLastError() != RtlNtStatusToDosError(kObjectTypeMismatch)) return false;
  // A platform that takes no folder handle for the new name (Wine 8): the full name, once the
  // path is seen to name the held folder still.
  const std::size_t slash = to.find_last_of(L"\\/");
  UniqueFile named = OpenFolderForHold(to.substr(0, slash + 1));
  if (!named || !SameFile(named.Get(), folder)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return RenameByHandle(file.Get(), nullptr, L"\\??\\" + to, replace);
}

bool DeleteInFolder(const std::wstring& path) {
  std::wstring name;
  HANDLE folder = HeldFolderOf(path, name);
  if (folder == nullptr) return DeleteFileW(path.c_str()) != FALSE;
  UniqueFile file =
      OpenRelative(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!file) return false;
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                    sizeof disposition) != FALSE;
}

std::optional<std::vector<std::wstring>> FileNamesInFolder(const std::wstring& folder) {
  std::wstring name;
  std::wstring probe = folder;
  if (probe.empty() || (probe.back() != L'\\' && probe.back() != L'/')) probe += L'\\';
  probe += L'*';
  UniqueFile opened;
  HANDLE handle = HeldFolderOf(probe, name);
  if (handle == nullptr) {
    opened = OpenFolderForHold(folder);
    if (!opened) return std::nullopt;
    handle = opened.Get();
  }
  std::vector<std::wstring> names;
  alignas(8) unsigned char buffer[16384];
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(handle, kind, buffer, sizeof buffer)) {
    kind = FileIdBothDirectoryInfo;
    for (unsigned char* entry = buffer;;) {
      const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(entry);
      if (!(info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        names.emplace_back(info->FileName, info->FileNameLength / sizeof(wchar_t));
      }
      if (info->NextEntryOffset == 0) break;
      entry += info->NextEntryOffset;
    }
  }
  if (GetLastError() != ERROR_NO_MORE_FILES) return std::nullopt;
  return names;
}
