#include "win32/Win32ProfileReader.h"

#include <windows.h>

#include <vector>

namespace {

constexpr DWORD kValueBufferChars = 2048;

// The section's key names. The reader gives size - 2 when the list did not fit, so the buffer
// grows until it is returned with room to spare.
std::vector<std::wstring> SectionKeyNames(const std::wstring& file, const std::wstring& section) {
  std::vector<wchar_t> buffer(kValueBufferChars);
  DWORD length = 0;
  for (;;) {
    const auto size = static_cast<DWORD>(buffer.size());
    length =
        GetPrivateProfileStringW(section.c_str(), nullptr, L"", buffer.data(), size, file.c_str());
    if (length + 2 < size) break;
    buffer.resize(buffer.size() * 2);
  }
  std::vector<std::wstring> names;
  for (DWORD pos = 0; pos < length;) {
    std::wstring name(buffer.data() + pos);
    pos += static_cast<DWORD>(name.size()) + 1;
    names.push_back(std::move(name));
  }
  return names;
}

bool SameNameUnderUserLocale(const std::wstring& a, const std::wstring& b) {
  return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                        b.c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace

std::wstring Win32ProfileReader::ReadString(const std::wstring& file, const std::wstring& section,
                                            const std::wstring& key,
                                            const std::wstring& defaultValue) {
  wchar_t buffer[kValueBufferChars];
  const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(),
                                                buffer, kValueBufferChars, file.c_str());
  return std::wstring(buffer, length);
}

bool Win32ProfileReader::ValueExists(const std::wstring& file, const std::wstring& section,
                                     const std::wstring& key) {
  for (const std::wstring& name : SectionKeyNames(file, section)) {
    if (SameNameUnderUserLocale(name, key)) return true;
  }
  return false;
}

void Win32ProfileReader::Flush(const std::wstring& file) {
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());
}
