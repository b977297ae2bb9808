#include "win32/FileHandleIo.h"

#include <vector>

#include "win32/Win32Error.h"

void WriteAll(HANDLE file, const char* data, std::size_t bytes) {
  while (bytes > 0) {
    DWORD written = 0;
    const DWORD chunk = bytes > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes);
    if (!WriteFile(file, data, chunk, &written, nullptr)) RaiseSystemError(GetLastError());
    data += written;
    bytes -= written;
  }
}

void ReadFromStart(HANDLE file, const std::function<void(const char*, DWORD)>& piece) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) RaiseSystemError(GetLastError());
  std::vector<char> buffer(1 << 20);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      RaiseSystemError(GetLastError());
    }
    if (read == 0) return;
    piece(buffer.data(), read);
  }
}

std::string HeadOf(HANDLE file, std::size_t maxBytes) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) RaiseSystemError(GetLastError());
  std::string head(maxBytes, '\0');
  DWORD read = 0;
  if (!ReadFile(file, head.data(), static_cast<DWORD>(maxBytes), &read, nullptr)) {
    RaiseSystemError(GetLastError());
  }
  head.resize(read);
  return head;
}
