#pragma once
// The file operations of the download and the exchange on kernel32.

#include "platform/FileSystem.h"

class Win32FileSystem : public FileSystem {
 public:
  bool DirectoryExists(const std::wstring& path) override;
  void CreateDirectories(const std::wstring& path) override;
  void CopyOver(const std::wstring& source, const std::wstring& target) override;
  void ReplaceWith(const std::wstring& source, const std::wstring& target) override;
  void RemoveIfExists(const std::wstring& path) noexcept override;
  std::string ReadHead(const std::wstring& path, std::size_t maxBytes) override;
};
