#pragma once
// Reads a file's product version through version.dll.

#include "platform/VersionReader.h"

class Win32VersionReader : public VersionReader {
 public:
  // GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW on the root block. A fixed
  // block shorter than VS_FIXEDFILEINFO counts as unreadable: it is never read past its end.
  std::optional<ProductVersion> ReadProductVersion(const std::wstring& path) override;
};
