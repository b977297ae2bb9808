#include "ToolConsole.h"

#include <windows.h>

#include <string>

ToolConsole::ToolConsole() : output_(GetStdHandle(STD_OUTPUT_HANDLE)) {
  DWORD mode = 0;
  console_ =
      output_ != nullptr && output_ != INVALID_HANDLE_VALUE && GetConsoleMode(output_, &mode) != 0;
}

void ToolConsole::WriteLine(const std::wstring& line) {
  if (output_ == nullptr || output_ == INVALID_HANDLE_VALUE) return;
  const std::wstring text = line + L"\r\n";
  DWORD written = 0;
  if (console_) {
    WriteConsoleW(output_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_OEMCP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_OEMCP, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
  WriteFile(output_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
