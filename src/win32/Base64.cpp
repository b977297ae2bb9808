#include "win32/Base64.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include "win32/Win32Error.h"

std::string EncodeBase64(const std::string& bytes) {
  if (bytes.empty()) return {};
  const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
  const DWORD size = static_cast<DWORD>(bytes.size());
  constexpr DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD length = 0;
  if (!CryptBinaryToStringA(data, size, kFlags, nullptr, &length)) {
    RaiseSystemError(GetLastError());
  }
  std::string text(length, '\0');  // the terminating NUL included
  if (!CryptBinaryToStringA(data, size, kFlags, text.data(), &length)) {
    RaiseSystemError(GetLastError());
  }
  text.resize(length);  // now without the NUL
  return text;
}

std::optional<std::string> DecodeBase64(const std::string& text) {
  if (text.empty()) return std::string();
  const DWORD length = static_cast<DWORD>(text.size());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                            nullptr)) {
    return std::nullopt;
  }
  std::string bytes(size, '\0');
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64,
                            reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr)) {
    return std::nullopt;
  }
  bytes.resize(size);
  // crypt32 skips blanks and line breaks and is lenient about padding: only the one text that
  // encodes these bytes counts.
  try {
    if (EncodeBase64(bytes) != text) return std::nullopt;
  } catch (const Exception&) {
    return std::nullopt;
  }
  return bytes;
}
