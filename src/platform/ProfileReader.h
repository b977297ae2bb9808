#pragma once
// Reads an INI file through the platform's profile reader. Never writes a key.

#include <string>

class ProfileReader {
 public:
  virtual ~ProfileReader() = default;
  // The value of section/key in file, or defaultValue when the key is missing. A value longer
  // than 2,047 characters is cut there.
  virtual std::wstring ReadString(const std::wstring& file, const std::wstring& section,
                                  const std::wstring& key, const std::wstring& defaultValue) = 0;
  // Whether the section lists a key of that name (compared without regard to case).
  virtual bool ValueExists(const std::wstring& file, const std::wstring& section,
                           const std::wstring& key) = 0;
  // Asks the platform to drop its cached copy of the file. Writes nothing, creates nothing.
  virtual void Flush(const std::wstring& file) = 0;
};
