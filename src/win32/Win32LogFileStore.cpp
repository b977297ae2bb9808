#include "win32/Win32LogFileStore.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "win32/HeldFolders.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

namespace {

struct OpenedFile {
  UniqueFile handle;
  DWORD error = ERROR_SUCCESS;  // the open's error code when the handle is not valid
};

// Read and write access, no sharing: the open fails while anybody else holds the file open. A
// link is opened itself, never followed.
OpenedFile OpenExclusive(const std::wstring& path, DWORD disposition) {
  UniqueFile handle = OpenInFolder(path, GENERIC_READ | GENERIC_WRITE, 0, disposition,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  const DWORD error = handle ? ERROR_SUCCESS : GetLastError();
  return {std::move(handle), error};
}

void WriteAll(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
      RaiseSystemError(GetLastError());
    }
    if (written == 0) RaiseSystemError(ERROR_WRITE_FAULT);
    done += written;
  }
}

// Stamps the modification time ourselves before reading the identity. A file system may set
// the time of a written file once more when the handle is closed, but not when the time was set
// through that handle; so the identity read here is the one the next open finds.
void StampLastWrite(HANDLE file) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  if (!SetFileTime(file, nullptr, nullptr, &now)) RaiseSystemError(GetLastError());
}

FileIdentity IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) RaiseSystemError(GetLastError());
  auto join = [](DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | static_cast<std::uint64_t>(low);
  };
  FileIdentity identity;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = join(info.nFileIndexHigh, info.nFileIndexLow);
  identity.size = join(info.nFileSizeHigh, info.nFileSizeLow);
  identity.lastWrite =
      join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  return identity;
}

// The identity after our own write through the handle that read `before`: still the same file,
// so only size and modification time are read again. (The volume serial number is the costly
// part of GetFileInformationByHandle, half a millisecond under Wine.)
FileIdentity IdentityAfterWrite(HANDLE file, FileIdentity before) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) RaiseSystemError(GetLastError());
  FILETIME lastWrite;
  if (!GetFileTime(file, nullptr, nullptr, &lastWrite)) RaiseSystemError(GetLastError());
  before.size = static_cast<std::uint64_t>(size.QuadPart);
  before.lastWrite = (static_cast<std::uint64_t>(lastWrite.dwHighDateTime) << 32) |
                     static_cast<std::uint64_t>(lastWrite.dwLowDateTime);
  return before;
}

}  // namespace

FileIdentity Win32LogFileStore::Rewrite(const std::wstring& path, const std::string& bytes) {
  OpenedFile file = OpenExclusive(path, OPEN_ALWAYS);
  if (!file.handle) RaiseSystemError(file.error);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.handle.Get(), &info)) RaiseSystemError(GetLastError());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1) {
    throw LinkedFileRefused(L"Das Protokoll " + path +
                            L" wird nicht geschrieben: Die Datei ist ein Verweis (symbolische "
                            L"Verknüpfung, Abzweigung, Bereitstellungspunkt) oder hat weitere "
                            L"harte Links.");
  }
  // Cut only once the file has proven to be the run log itself.
  if (!SetEndOfFile(file.handle.Get())) RaiseSystemError(GetLastError());
  WriteAll(file.handle.Get(), bytes);
  StampLastWrite(file.handle.Get());
  return IdentityOf(file.handle.Get());
}

std::optional<FileIdentity> Win32LogFileStore::AppendIfUnchanged(const std::wstring& path,
                                                                 const FileIdentity& expected,
                                                                 const std::string& bytes) {
  OpenedFile file = OpenExclusive(path, OPEN_EXISTING);
  if (!file.handle) {
    if (file.error == ERROR_FILE_NOT_FOUND || file.error == ERROR_PATH_NOT_FOUND) {
      return std::nullopt;
    }
    RaiseSystemError(file.error);
  }
  const HANDLE handle = file.handle.Get();
  FileIdentity before = IdentityOf(handle);
  if (!(before == expected)) return std::nullopt;
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(handle, zero, nullptr, FILE_END)) RaiseSystemError(GetLastError());
  WriteAll(handle, bytes);
  StampLastWrite(handle);
  return IdentityAfterWrite(handle, before);
}
