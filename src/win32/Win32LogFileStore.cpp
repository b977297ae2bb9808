#include "win32/Win32LogFileStore.h"

#include <windows.h>

#include <algorithm>

#include "win32/Win32Error.h"

namespace {

class ExclusiveFile {
 public:
  // Read and write access, no sharing: the open fails while anybody else holds the file open.
  ExclusiveFile(const std::wstring& path, DWORD disposition)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL, nullptr)),
        error_(handle_ == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS) {}
  ~ExclusiveFile() {
    if (IsOpen()) CloseHandle(handle_);
  }
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  DWORD OpenError() const { return error_; }
  HANDLE Handle() const { return handle_; }

 private:
  HANDLE handle_;
  DWORD error_;
};

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
  ExclusiveFile file(path, CREATE_ALWAYS);
  if (!file.IsOpen()) RaiseSystemError(file.OpenError());
  WriteAll(file.Handle(), bytes);
  StampLastWrite(file.Handle());
  return IdentityOf(file.Handle());
}

std::optional<FileIdentity> Win32LogFileStore::AppendIfUnchanged(const std::wstring& path,
                                                                 const FileIdentity& expected,
                                                                 const std::string& bytes) {
  ExclusiveFile file(path, OPEN_EXISTING);
  if (!file.IsOpen()) {
    DWORD error = file.OpenError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    RaiseSystemError(error);
  }
  FileIdentity before = IdentityOf(file.Handle());
  if (!(before == expected)) return std::nullopt;
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(file.Handle(), zero, nullptr, FILE_END)) RaiseSystemError(GetLastError());
  WriteAll(file.Handle(), bytes);
  StampLastWrite(file.Handle());
  return IdentityAfterWrite(file.Handle(), before);
}
