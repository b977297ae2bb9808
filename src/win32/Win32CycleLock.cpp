#include "win32/Win32CycleLock.h"

#include <windows.h>

#include <algorithm>

#include "core/Exception.h"
#include "core/ServiceFolderSecurity.h"
#include "win32/HeldFolders.h"
#include "win32/SecurityInfo.h"
#include "win32/Win32Error.h"

namespace {

constexpr DWORD kPollMs = 100;
constexpr unsigned kDeniedPolls = 20;

// The owner of the file itself, read without access to its bytes (so also while it is held);
// empty for a link or a file with other hard links.
std::wstring OwnerOfFile(const std::wstring& path) {
  UniqueFile file = OpenInFolder(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!file) return L"";
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1) {
    return L"";
  }
  return OwnerSidOf(file.Get(), SE_FILE_OBJECT);
}

}  // namespace

Win32CycleLock::Win32CycleLock(FileSystem& files) : files_(files) {}

void Win32CycleLock::Claim(const std::wstring& folder) {
  folder_ = folder;
  path_ = folder + (folder.empty() || folder.back() == L'\\' ? L"" : L"\\") + FileName;
  // Checked and removed through the proven folder only: a folder that is missing or not the
  // service's is refused by the first cycle, with its reason.
  FolderCheck check = files_.HoldTrustedFolder(folder_);
  if (!check.held) return;
  if (GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  const std::wstring owner = OwnerOfFile(path_);
  if (IsTrustedOwner(owner, ProcessAccountSid())) return;
  if (DeleteInFolder(path_)) return;
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
  if (folder_.empty()) throw Exception(L"Die Zyklussperre hat keinen Ordner.");
  FolderCheck check = files_.HoldTrustedFolder(folder_);
  if (!check.held) {
    throw Exception(L"Der Ordner der Zyklussperre " + folder_ + L" ist nicht sicher: " +
                    check.whyNot);
  }
  const ULONGLONG end = GetTickCount64() + milliseconds;
  unsigned denied = 0;
  for (;;) {
    UniqueFile file = OpenInFolder(
        path_, GENERIC_READ | DELETE, 0, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT);
    if (file) {
      held_ = std::move(file);
      heldFolder_ = std::move(check.held);
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

// The file goes first: the folder it was made in stays held until it is deleted.
void Win32CycleLock::Release() {
  held_.Reset();
  heldFolder_.reset();
}
