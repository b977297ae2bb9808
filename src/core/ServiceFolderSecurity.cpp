#include "core/ServiceFolderSecurity.h"

const wchar_t* ServiceFolderSddl() { return L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"; }

// 0x1200a9: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, what mapping an image needs.
const wchar_t* ProbeCopySddl() { return L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;AU)"; }

bool IsTrustedOwner(const std::wstring& ownerSid, const std::wstring& serviceAccountSid) {
  if (ownerSid.empty()) return false;
  return ownerSid == kSystemSid || ownerSid == kAdministratorsSid || ownerSid == serviceAccountSid;
}
