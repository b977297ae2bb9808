#include "win32/Win32Error.h"

#include <cwchar>

#include "core/SystemError.h"

std::wstring PlatformErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (length != 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);
  return TrimPlatformText(text);
}

Exception SystemError(DWORD code) {
  return Exception(FormatSystemErrorMessage(code, PlatformErrorText(code)));
}

void RaiseSystemError(DWORD code) { throw SystemError(code); }

void CheckCngStatus(LONG status) {
  if (status >= 0) return;
  wchar_t code[16];
  std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(status));
  throw Exception(std::wstring(L"CNG-Fehler ") + code);
}
