#include "win32/Win32VersionReader.h"

#include <windows.h>

#include <vector>

std::optional<ProductVersion> Win32VersionReader::ReadProductVersion(const std::wstring& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<BYTE> buffer(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, buffer.data())) return std::nullopt;
  void* block = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(buffer.data(), L"\\", &block, &length) || block == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(block);
  return ProductVersion{info->dwProductVersionMS, info->dwProductVersionLS};
}
