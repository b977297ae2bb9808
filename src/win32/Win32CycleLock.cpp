#include "win32/Win32CycleLock.h"

#include <windows.h>

#include <algorithm>

#include "core/Exception.h"
#include "core/ServiceFolderSecurity.h"
#include "win32/SecurityInfo.h"
#include "win32/Win32Error.h"

namespace {

constexpr DWORD kPollMs = 100;
constexpr unsigned kDeniedPolls = 20;

// The owner of the file itself, read without access to its bytes (so also while it is held);
// empty for a link or a file with other hard links.
std::wstring OwnerOfFile(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return L"";
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1) {
    return L"";
  }
  return OwnerSidOf(file.Get(), SE_FILE_OBJECT);
}

}  // namespace

Win32CycleLock::Win32CycleLock(const std::wstring& folder)
    : path_(folder + (folder.empty() || folder.back() == L'\\' ? L"" : L"\\") + FileName) {}

void Win32CycleLock::Claim() {
  if (GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  const std::wstring owner = OwnerOfFile(path_);
  if (IsTrustedOwner(owner, ProcessAccountSid())) return;
  if (DeleteFileW(path_.c_str())) return;
  throw Exception(
      L"Die Sperrdatei " + path_ + L" gehört " +
      (owner.empty() ? std::wstring(L"einem unbekannten Konto oder ist ein Verweis") : owner) +
      L", weder SYSTEM, den Administratoren noch dem Konto des Dienstes; ein "
      L"anderes Programm könnte jede Aktualisierung blockieren.");
}

// The link itself is opened, never what it points to; deleting on close leaves nothing behind
// once the holder lets go, also when it is ended without letting go.
bool Win32CycleLock::TryAcquire(unsigned milliseconds) {
  if (held_) return true;
  const ULONGLONG end = GetTickCount64() + milliseconds;
  unsigned denied = 0;
  for (;;) {
    HANDLE file = CreateFileW(
        path_.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      held_.Reset(file);
      return true;
    }
    const DWORD error = GetLastError();
    // Held by another process. A file that its last holder is deleting answers "access denied"
    // for a moment; an account that may not make the file at all hears it for good.
    denied = error == ERROR_ACCESS_DENIED ? denied + 1 : 0;
    if (error != ERROR_SHARING_VIOLATION &&
        (error != ERROR_ACCESS_DENIED || denied > kDeniedPolls)) {
      RaiseSystemError(error);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kPollMs, end - now)));
  }
}

void Win32CycleLock::Release() { held_.Reset(); }
