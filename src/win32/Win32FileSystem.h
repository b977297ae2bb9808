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
  std::unique_ptr<HeldFile> HoldAgainstWriters(const std::wstring& path) override;
  void MoveAside(const std::wstring& source, const std::wstring& target) override;
  bool FileExists(const std::wstring& path) override;
  std::vector<std::wstring> FileNamesStartingWith(const std::wstring& folder,
                                                  const std::wstring& prefix) override;
  void AppendDurably(const std::wstring& path, const std::string& bytes) override;
  std::optional<std::string> ReadWhole(const std::wstring& path) override;
  std::unique_ptr<HeldFile> HoldUnchanged(const std::wstring& path) override;
  std::optional<OwnedFile> ReadWholeWithOwner(const std::wstring& path) override;
  std::wstring OwnerOf(const std::wstring& path) override;
  std::wstring OwnAccountSid() override;
  void ProtectFolder(const std::wstring& path) override;
  FolderCheck HoldTrustedFolder(const std::wstring& folder) override;
  void ProtectProbeCopy(const std::wstring& path) override;
};
