#include "core/PathNames.h"

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L'\\');
  return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

std::wstring FileNameOf(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L'\\');
  return end == std::wstring::npos ? path : path.substr(end + 1);
}
