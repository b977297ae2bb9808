#include "win32/Win32Console.h"

#include <string>

namespace {

bool IsRedirected(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(handle);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

std::string ToOemCodePage(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_OEMCP, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(size > 0 ? size : 0, '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_OEMCP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
  }
  return bytes;
}

}  // namespace

Win32Console::Win32Console() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (IsRedirected(output)) {
    redirected_ = output;
    return;
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  console_.Reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr));
  // The shell has already shown its prompt: the first line starts on a line of its own.
  WriteLine(L"");
}

void Win32Console::WriteLine(const std::wstring& line) {
  const std::wstring text = line + L"\r\n";
  if (redirected_ != nullptr) {
    const std::string bytes = ToOemCodePage(text);
    DWORD written = 0;
    WriteFile(redirected_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  } else if (console_) {
    DWORD written = 0;
    WriteConsoleW(console_.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}
