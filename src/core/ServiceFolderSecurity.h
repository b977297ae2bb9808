#pragma once
// Who may own and change what the service keeps in its own folder. The service runs as
// LocalSystem: a file there that another account could have written is never acted on.

#include <string>

// The security descriptor the download folder gets, as SDDL: owner Administrators; a protected
// access list (nothing inherited from the parent) that gives full control to SYSTEM and the
// Administrators group only, inherited by every file and folder created inside.
const wchar_t* ServiceFolderSddl();

// The security descriptor of the load probe's copy, as SDDL: a protected access list giving full
// control to SYSTEM and the Administrators group, and reading and executing (no writing, no
// deleting, no change of the list) to Authenticated Users. The probe's restricted token keeps
// SYSTEM and Administrators only as deny-only SIDs; of the groups of LocalSystem's token,
// Authenticated Users is the narrowest it keeps enabled (Everyone is the other).
const wchar_t* ProbeCopySddl();

// SIDs as text (S-1-...).
inline constexpr wchar_t kSystemSid[] = L"S-1-5-18";
inline constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";

// Whether a file owned by ownerSid may have been written only by the service or an administrator:
// SYSTEM, the Administrators group, or the account the service runs as.
bool IsTrustedOwner(const std::wstring& ownerSid, const std::wstring& serviceAccountSid);
