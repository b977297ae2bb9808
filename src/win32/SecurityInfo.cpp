#include "win32/SecurityInfo.h"

#include <sddl.h>

#include <memory>
#include <vector>

#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

namespace {
std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return L"";
  std::unique_ptr<wchar_t, LocalMemoryDeleter> owned(text);
  return text;
}
}  // namespace

std::wstring ProcessAccountSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return L"";
  UniqueHandle token(raw);
  DWORD bytes = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &bytes);
  std::vector<unsigned char> buffer(bytes);
  if (bytes == 0 || !GetTokenInformation(token.Get(), TokenUser, buffer.data(), bytes, &bytes)) {
    return L"";
  }
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

std::wstring OwnerSidOf(HANDLE object, SE_OBJECT_TYPE type) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return L"";
  }
  std::unique_ptr<void, LocalMemoryDeleter> owned(descriptor);
  return SidText(owner);
}

void ApplySddl(HANDLE object, const std::wstring& path, const wchar_t* sddl,
               SECURITY_INFORMATION which) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    RaiseSystemError(GetLastError());
  }
  std::unique_ptr<void, LocalMemoryDeleter> owned(descriptor);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
      !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
    RaiseSystemError(GetLastError());
  }
  const DWORD error =
      object != nullptr
          ? SetSecurityInfo(object, SE_FILE_OBJECT, which, owner, nullptr, dacl, nullptr)
          : SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT, which, owner,
                                  nullptr, dacl, nullptr);
  if (error != ERROR_SUCCESS) RaiseSystemError(error);
}
