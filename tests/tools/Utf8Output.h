#pragma once
// Output of the test tools: the test scripts read it as UTF-8 bytes, whatever the console's code
// page, and exactly as written (no CR before LF).

#include <windows.h>

#include <string>

// The text as UTF-8 bytes.
inline std::string Utf8(const std::wstring& text) {
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

// Writes the text as UTF-8 to standard output at once, past the C runtime's buffer and its text
// mode.
inline void PrintUtf8(const std::wstring& text) {
  const std::string bytes = Utf8(text);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}
