#include "core/ServiceFolderSecurity.h"

const wchar_t* ServiceFolderSddl() { return L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"; }

bool IsTrustedOwner(const std::wstring& ownerSid, const std::wstring& serviceAccountSid) {
  if (ownerSid.empty()) return false;
  return ownerSid == kSystemSid || ownerSid == kAdministratorsSid || ownerSid == serviceAccountSid;
}
