#include "win32/Win32StatusFileStore.h"

#include <windows.h>

#include <algorithm>

#include "core/Exception.h"
#include "core/ServiceFolderSecurity.h"
#include "win32/HeldFolders.h"
#include "win32/PlainFile.h"
#include "win32/ScopedHandle.h"
#include "win32/SecurityInfo.h"
#include "win32/Win32Error.h"

namespace {

void WriteAll(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) {
      RaiseSystemError(GetLastError());
    }
    if (written == 0) RaiseSystemError(ERROR_WRITE_FAULT);
    done += written;
  }
}

}  // namespace

std::optional<std::string> Win32StatusFileStore::ReadPlain(const std::wstring& path,
                                                           std::size_t maxBytes) {
  RequirePlainFileOrAbsent(path);
  UniqueFile file =
      OpenInFolder(path, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_DELETE,
                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    RaiseSystemError(error);
  }
  // Read back only when the service or an administrator wrote it, as the records are.
  const std::wstring owner = OwnerSidOf(file.Get(), SE_FILE_OBJECT);
  if (!IsTrustedOwner(owner, ProcessAccountSid())) {
    throw Exception(L"Die Datei " + path + L" gehört " +
                    (owner.empty() ? std::wstring(L"einem unbekannten Konto") : owner) + L".");
  }
  std::string bytes(maxBytes, '\0');
  std::size_t done = 0;
  while (done < maxBytes) {
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(maxBytes - done, 1u << 20));
    if (!ReadFile(file.Get(), bytes.data() + done, chunk, &read, nullptr)) {
      RaiseSystemError(GetLastError());
    }
    if (read == 0) break;
    done += read;
  }
  bytes.resize(done);
  return bytes;
}

// The temporary name may have been planted as a link too: it is deleted (a link goes, not its
// target) and then created anew, which fails rather than open anything that reappeared.
void Win32StatusFileStore::WriteAtomically(const std::wstring& path, const std::string& bytes) {
  RequirePlainFileOrAbsent(path);
  const std::wstring temp = path + L".neu";
  DeleteInFolder(temp);
  {
    UniqueFile file = OpenInFolder(temp, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (!file) RaiseSystemError(GetLastError());
    try {
      WriteAll(file.Get(), bytes);
      if (!FlushFileBuffers(file.Get())) RaiseSystemError(GetLastError());
    } catch (...) {
      file.Reset();
      DeleteInFolder(temp);
      throw;
    }
  }
  if (!RenameInFolder(temp, path, true)) {
    const DWORD error = GetLastError();
    DeleteInFolder(temp);
    RaiseSystemError(error);
  }
}

bool Win32StatusFileStore::FolderExists(const std::wstring& folder) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

long long UnixTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  constexpr unsigned long long kTicksFrom1601To1970 = 116444736000000000ULL;
  return static_cast<long long>((ticks - kTicksFrom1601To1970) / 10000000ULL);
}
