#pragma once
// The platform's profile reader (GetPrivateProfileStringW). Reads only; Flush drops the platform's
// cached copy of a file without writing or creating it.

#include <string>

#include "platform/ProfileReader.h"

class Win32ProfileReader : public ProfileReader {
 public:
  std::wstring ReadString(const std::wstring& file, const std::wstring& section,
                          const std::wstring& key, const std::wstring& defaultValue) override;
  // Lists the section's key names in full and compares them without regard to case under the
  // user locale's collation.
  bool ValueExists(const std::wstring& file, const std::wstring& section,
                   const std::wstring& key) override;
  void Flush(const std::wstring& file) override;
};
