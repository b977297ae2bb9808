#pragma once
// Windows only (the Win32 tests): a fresh folder under the user's temp folder for one test.

#include <string>

// Creates <temp><prefix><process id>_<counter>\ and removes it with everything in it when the
// object goes, so that tests of one run never share a folder and leave nothing behind.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder's path, with a trailing backslash.
  const std::wstring& Path() const { return path_; }

  // Writes the bytes as they are to the named file in the folder and returns its full path. A
  // file that cannot be written fails the running test.
  std::wstring Write(const std::wstring& name, const std::string& bytes) const;

 private:
  std::wstring path_;
};
