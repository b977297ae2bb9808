#pragma once
// Owners and accounts as SID texts (S-1-...), for deciding whose file or object something is.

#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <string>

struct LocalMemoryDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};

// The account this process runs as; empty when it cannot be read.
std::wstring ProcessAccountSid();
// The owner of an open file or kernel object; empty when it cannot be read.
std::wstring OwnerSidOf(HANDLE object, SE_OBJECT_TYPE type);
// Sets what `which` names of the SDDL text's owner and access list on the open object (a
// handle with WRITE_DAC, and WRITE_OWNER for the owner) or, without a handle, on the path.
// Raises Exception when it cannot.
void ApplySddl(HANDLE object, const std::wstring& path, const wchar_t* sddl,
               SECURITY_INFORMATION which);
