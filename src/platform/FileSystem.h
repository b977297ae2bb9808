#pragma once
// The file operations of the download and the exchange.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Exception.h"

// Raised when a file cannot be replaced because another process holds it open; worth a retry.
class FileBusyError : public Exception {
 public:
  using Exception::Exception;
};

// A file held open for reading: while it is held nobody can write it or replace its bytes, so
// what was checked through it is what is copied from it. It may be renamed while held.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
  // The SHA-256 of the held bytes (32 raw bytes). Raises Exception when it cannot be read.
  virtual std::string Sha256() = 0;
  // Writes the held bytes to target, creating or replacing it, and flushes them to the disk
  // before returning. Raises Exception on failure; a partial target is removed.
  virtual void CopyDurablyTo(const std::wstring& target) = 0;
  // Whether path names the held file itself (not another file put in its place).
  virtual bool IsAt(const std::wstring& path) = 0;
  // Up to maxBytes from the start of the held bytes. Raises Exception when they cannot be read.
  virtual std::string ReadHead(std::size_t maxBytes) = 0;
  // The platform's handle of the open file (a HANDLE on Windows), for checks that read through it;
  // null where there is none.
  virtual void* SystemHandle() = 0;
};

// A whole file together with what says who could have written it.
struct OwnedFile {
  std::string bytes;
  std::wstring ownerSid;  // S-1-...; empty when it could not be read
  // A reparse point (symbolic link, junction, mount point) or a file with other hard links: its
  // owner says nothing about who wrote the bytes read through it.
  bool linked = false;
};

// A folder proven the service's and held: while it lives, the folder cannot be renamed, deleted
// or replaced, and what is done in it is done in the folder that was proven.
class HeldFolder {
 public:
  virtual ~HeldFolder() = default;
};

struct FolderCheck {
  std::unique_ptr<HeldFolder> held;  // null when the folder is not the service's
  std::wstring whyNot;               // why not (German), when held is null
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Whether the folder exists; links are followed.
  virtual bool DirectoryExists(const std::wstring& path) = 0;
  // Creates the folder with every missing parent; a trailing backslash is ignored. Raises
  // Exception on failure.
  virtual void CreateDirectories(const std::wstring& path) = 0;
  // Copies source to target, replacing an existing target. Raises Exception on failure.
  virtual void CopyOver(const std::wstring& source, const std::wstring& target) = 0;
  // Moves source onto target in one step, replacing it, so target is always either the old or the
  // new file. Raises FileBusyError while another process holds target open, Exception otherwise.
  virtual void ReplaceWith(const std::wstring& source, const std::wstring& target) = 0;
  // Deletes the file if it exists; never raises.
  virtual void RemoveIfExists(const std::wstring& path) noexcept = 0;
  // Up to maxBytes from the start of the file. Raises Exception when it cannot be read.
  virtual std::string ReadHead(const std::wstring& path, std::size_t maxBytes) = 0;

  // Opens the file so that nobody can write it while the result lives (it may still be renamed).
  // Raises Exception when it cannot be opened so.
  virtual std::unique_ptr<HeldFile> HoldAgainstWriters(const std::wstring& path) = 0;
  // Opens the file so that, while the result lives, nobody can write, rename or delete it: the
  // path goes on naming exactly the bytes held. Raises Exception when it cannot be opened so
  // (another process holds it open for writing, say).
  virtual std::unique_ptr<HeldFile> HoldUnchanged(const std::wstring& path) = 0;
  // Renames source to target in the same folder, written through; target must not exist. Works
  // on a DLL that a process has loaded. Raises FileBusyError while another process holds source
  // open so that it cannot be renamed, Exception otherwise.
  virtual void MoveAside(const std::wstring& source, const std::wstring& target) = 0;
  virtual bool FileExists(const std::wstring& path) = 0;
  // The names (without folder) of the files in folder whose names begin with prefix, compared
  // without regard to case. Empty when the folder cannot be listed.
  virtual std::vector<std::wstring> FileNamesStartingWith(const std::wstring& folder,
                                                          const std::wstring& prefix) = 0;
  // Appends bytes to the file, creating it, and flushes them to the disk before returning.
  // Raises Exception on failure.
  virtual void AppendDurably(const std::wstring& path, const std::string& bytes) = 0;
  // The whole file, or std::nullopt when it does not exist. Raises Exception when it exists but
  // cannot be read.
  virtual std::optional<std::string> ReadWhole(const std::wstring& path) = 0;
  // The same, read through one handle with the file's owner; std::nullopt when it does not exist.
  virtual std::optional<OwnedFile> ReadWholeWithOwner(const std::wstring& path) = 0;
  // The owner (S-1-...) of the file itself, never of what a link points to; empty when it cannot
  // be read, and for a reparse point or a file with other hard links, whose owner says nothing
  // about who put it there. Answers also for a file another process holds open without sharing.
  virtual std::wstring OwnerOf(const std::wstring& path) = 0;
  // The SID (S-1-...) of the account this process runs as.
  virtual std::wstring OwnAccountSid() = 0;

  // Gives the folder the service's own security descriptor (core/ServiceFolderSecurity.h):
  // owner Administrators, full control for SYSTEM and Administrators only, nothing inherited.
  // Raises Exception when it cannot be set, or when the path is a link rather than a folder.
  virtual void ProtectFolder(const std::wstring& path) = 0;
  // Proves the folder and every folder above it, up to its volume root, the service's
  // (core/FolderTrust.h: no link, owned and changeable by SYSTEM, the Administrators,
  // TrustedInstaller or the service's own account only) and holds it. Never raises: a folder
  // that cannot be read or opened is not the service's.
  virtual FolderCheck HoldTrustedFolder(const std::wstring& folder) = 0;
  // Gives the load probe's copy an access list of its own (core/ServiceFolderSecurity.h): full
  // control for SYSTEM and Administrators, reading and executing for the probe's restricted
  // process, nothing inherited. Raises Exception when it cannot be set.
  virtual void ProtectProbeCopy(const std::wstring& path) = 0;
};
