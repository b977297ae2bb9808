// Built into the native unit tests too, where it has nothing to do.
#ifdef _WIN32

#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "win32/ScopedHandle.h"

namespace {

int nextFolderNumber = 0;

// Deletes the folder (path with a trailing backslash), its files and its subfolders; what cannot
// be deleted stays.
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(folder + name + L"\\");
      } else {
        DeleteFileW((folder + name).c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

TempFolder::TempFolder(const std::wstring& prefix) {
  wchar_t base[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, base);
  path_ = std::wstring(base) + prefix + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(nextFolderNumber++) + L"\\";
  CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::wstring TempFolder::Write(const std::wstring& name, const std::string& bytes) const {
  const std::wstring file = path_ + name;
  UniqueFile handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(handle.IsValid()) << "cannot create a test file";
  DWORD written = 0;
  WriteFile(handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return file;
}

#endif  // _WIN32
