#include "win32/Win32CycleLock.h"

#include <sddl.h>

#include "core/Exception.h"
#include "core/ServiceFolderSecurity.h"
#include "win32/SecurityInfo.h"
#include "win32/Win32Error.h"

namespace {

// LocalSystem and the administrators may take the mutex whoever created it: the default
// security of an object the service creates would shut out an elevated administrator's UPDATE.
constexpr const wchar_t* kMutexSecurity = L"D:(A;;GA;;;SY)(A;;GA;;;BA)";

HANDLE CreateSharedMutex() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kMutexSecurity, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return CreateMutexW(nullptr, FALSE, Win32CycleLock::MutexName);
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  HANDLE mutex = CreateMutexW(&attributes, FALSE, Win32CycleLock::MutexName);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  SetLastError(error);
  return mutex;
}

}  // namespace

void Win32CycleLock::Open() {
  if (mutex_) return;
  HANDLE mutex = CreateSharedMutex();
  createdHere_ = mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
    // Made by another account with a stricter security: waiting and releasing is all we need.
    mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL, FALSE, MutexName);
  }
  if (mutex == nullptr) RaiseSystemError(GetLastError());
  mutex_.Reset(mutex);
}

void Win32CycleLock::Claim() {
  Open();
  if (createdHere_) return;
  const std::wstring owner = OwnerSidOf(mutex_.Get(), SE_KERNEL_OBJECT);
  if (IsTrustedOwner(owner, ProcessAccountSid())) return;
  mutex_.Reset();
  throw Exception(std::wstring(L"Das Objekt ") + MutexName + L" gehört " +
                  (owner.empty() ? std::wstring(L"einem unbekannten Konto") : owner) +
                  L", weder SYSTEM, den Administratoren noch dem Konto des Dienstes; ein "
                  L"anderes Programm könnte jede Aktualisierung blockieren.");
}

bool Win32CycleLock::TryAcquire(unsigned milliseconds) {
  Open();
  switch (WaitForSingleObject(mutex_.Get(), milliseconds)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder ended without releasing it: no cycle runs any more
      return true;
    case WAIT_TIMEOUT:
      return false;
    default:
      RaiseSystemError(GetLastError());
  }
}

void Win32CycleLock::Release() {
  if (mutex_) ReleaseMutex(mutex_.Get());
}
