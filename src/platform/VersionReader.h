#pragma once
// Reads the fixed version block of a file's version resource.

#include <cstdint>
#include <optional>
#include <string>

struct ProductVersion {
  std::uint32_t ms = 0;  // dwProductVersionMS
  std::uint32_t ls = 0;  // dwProductVersionLS
};

class VersionReader {
 public:
  virtual ~VersionReader() = default;
  // The product version, or std::nullopt when the file is missing, has no version resource, or
  // its fixed block cannot be read whole. Raises Exception only on an unexpected failure.
  virtual std::optional<ProductVersion> ReadProductVersion(const std::wstring& path) = 0;
};
