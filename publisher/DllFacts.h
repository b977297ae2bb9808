#pragma once
// What the release file says about the DLL, read from the DLL itself: nobody types a size or a
// hash.

#include <cstdint>
#include <string>

struct DllFacts {
  std::uint64_t size = 0;
  std::string sha256;    // 32 raw bytes
  std::wstring version;  // the product version, as the service reads it
};

// Reads the file whole while nobody can write it. Raises Exception when it cannot be read, is no
// DLL, or has no readable product version.
DllFacts ReadDllFacts(const std::wstring& path);
