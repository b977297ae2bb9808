#include "core/PathNames.h"

#include <cwctype>

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L'\\');
  return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

std::wstring FileNameOf(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L'\\');
  return end == std::wstring::npos ? path : path.substr(end + 1);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

std::wstring ExtendedLengthPath(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) return path;
  if (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') {
    return L"\\\\?\\" + path;
  }
  if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}
