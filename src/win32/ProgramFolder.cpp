#include "win32/ProgramFolder.h"

#include <windows.h>

namespace {

// MAX_PATH + 1: a longer path is cut by the platform.
constexpr DWORD kModuleNameChars = 261;

}  // namespace

std::wstring FolderOfPath(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"\\:");
  return last == std::wstring::npos ? std::wstring() : path.substr(0, last + 1);
}

std::wstring ProgramFolder() {
  wchar_t buffer[kModuleNameChars];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, kModuleNameChars);
  // A cut path fills the buffer and ends with the terminator, which is not part of the path.
  const DWORD chars = length < kModuleNameChars ? length : kModuleNameChars - 1;
  return FolderOfPath(std::wstring(buffer, chars));
}
