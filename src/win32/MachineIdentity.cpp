#include "win32/MachineIdentity.h"

#include <windows.h>

std::wstring ReadMachineIdentity() {
  wchar_t value[128] = {};
  DWORD bytes = sizeof(value) - sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                   RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS &&
      value[0] != L'\0') {
    return value;
  }
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (GetComputerNameW(name, &length)) return std::wstring(name, length);
  return L"";
}
