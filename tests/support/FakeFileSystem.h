#pragma once
// In-memory files and folders for the download and exchange. Every change is recorded in a
// timeline that a test can share with other fakes to check the order of events; a hook after
// every change lets a test take snapshots (to "cut the power" there), and a countdown makes the
// n-th change fail.

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

class FakeFileSystem : public FileSystem {
 public:
  explicit FakeFileSystem(std::vector<std::wstring>& timeline) : timeline_(timeline) {}

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
  std::wstring OwnAccountSid() override { return ownAccount; }
  void ProtectFolder(const std::wstring& path) override;
  FolderCheck HoldTrustedFolder(const std::wstring& folder) override;
  void ProtectProbeCopy(const std::wstring& path) override;

  // Stands for a SHA-256: 32 bytes, equal when the bytes are (four seeded FNV-1a hashes).
  static std::string FakeHash(const std::string& bytes) {
    std::string digest;
    for (std::uint64_t seed = 0; seed < 4; ++seed) {
      std::uint64_t h = 1469598103934665603ull ^ (seed * 0x9E3779B97F4A7C15ull);
      for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
      for (int i = 0; i < 8; ++i) digest += static_cast<char>((h >> (8 * i)) & 0xFF);
    }
    return digest;
  }

  std::map<std::wstring, std::string> files;
  std::set<std::wstring> folders;  // without trailing backslash
  bool failFolderCreation = false;
  std::set<std::wstring> failingCopyTargets;
  // Replacing or renaming this file raises FileBusyError this many more times (-1: always).
  std::map<std::wstring, int> busyTargets;
  // Files that cannot be deleted (a DLL a worker process has loaded).
  std::set<std::wstring> undeletable;
  // When positive, the change that brings it to 0 raises Exception instead of happening.
  int failChangeCountdown = 0;
  // Further changes that fail, counted like failChangeCountdown but after it has fired.
  std::vector<int> laterFailures;
  // Owner SIDs of files; a file not named here is owned by ownAccount.
  std::map<std::wstring, std::wstring> owners;
  std::wstring ownAccount = L"S-1-5-18";
  // Reparse points and hard-linked files.
  std::set<std::wstring> linked;
  // ProtectFolder raises with the text given for a folder (with its trailing backslash).
  std::map<std::wstring, std::wstring> protectFailures;
  // Folders (without trailing backslash) that are not the service's, with the reason.
  std::map<std::wstring, std::wstring> untrustedFolders;
  // How many holds on each folder are alive (HoldTrustedFolder).
  std::map<std::wstring, int> heldFolders;
  // Files given the load probe's access list.
  std::set<std::wstring> probeCopies;
  // Files that exist but cannot be read (another process holds them without sharing).
  std::set<std::wstring> unreadable;
  // Files held so that nobody may write, rename or delete them (HoldUnchanged).
  std::map<std::wstring, int> pinned;
  std::function<void()> afterChange;

  // Puts other bytes under the path as a new file, as another process replacing it would; false
  // (and nothing changed) while the file is held unchanged.
  bool Overwrite(const std::wstring& path, const std::string& bytes);
  // Which file a path names: every file written gets a new identity, a renamed one keeps its own.
  long IdentityOf(const std::wstring& path) const;
  void SetIdentity(const std::wstring& path, long identity) { identities_[path] = identity; }
  long NewIdentity() { return ++lastIdentity_; }

  // Records a change in the timeline and calls the hook.
  void Changed(const std::wstring& entry);
  // Raises when the countdown of failing changes reaches this one.
  void MayFail(const std::wstring& what);

 private:
  std::vector<std::wstring>& timeline_;
  std::map<std::wstring, long> identities_;
  long lastIdentity_ = 0;
};

// The folder part of a path (up to, without, the last backslash).
std::wstring ParentFolder(const std::wstring& path);
