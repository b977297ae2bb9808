#include "win32/Win32TextCodec.h"

#include <windows.h>

#include <climits>

#include "win32/Win32Error.h"

unsigned Win32TextCodec::AnsiCodePage() { return GetACP(); }

// No flags and no default character: unmappable characters get the code page's replacement
// (best fit or '?'), and the call cannot fail for them.
std::string Win32TextCodec::ToAnsi(const std::wstring& text) {
  if (text.empty()) return std::string();
  if (text.size() > INT_MAX) throw Exception(L"Text zu lang für die Umwandlung");
  int length = static_cast<int>(text.size());
  int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) RaiseSystemError(GetLastError());
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  int written =
      WideCharToMultiByte(CP_ACP, 0, text.data(), length, bytes.data(), needed, nullptr, nullptr);
  if (written <= 0) RaiseSystemError(GetLastError());
  bytes.resize(static_cast<std::size_t>(written));
  return bytes;
}

bool Win32TextCodec::IsValidCodePage(unsigned codePage) { return ::IsValidCodePage(codePage); }

std::wstring Win32TextCodec::Decode(unsigned codePage, const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  if (bytes.size() > INT_MAX) throw Exception(L"Text zu lang für die Umwandlung");
  DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  int length = static_cast<int>(bytes.size());
  int needed = MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
  if (needed <= 0) RaiseSystemError(GetLastError());
  std::wstring text(static_cast<std::size_t>(needed), L'\0');
  int written = MultiByteToWideChar(codePage, flags, bytes.data(), length, text.data(), needed);
  if (written <= 0) RaiseSystemError(GetLastError());
  text.resize(static_cast<std::size_t>(written));
  return text;
}
