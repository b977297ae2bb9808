#pragma once
// The folders the service has proven its own (core/FolderTrust.h) and holds open while it works
// in them. A held folder is open without delete sharing, so that nobody can rename, delete or
// replace it until it is let go (and, on NTFS, none of the folders above it, which cannot be
// renamed while something inside is open). What the service opens, creates, renames or deletes
// in a held folder is reached through the held handle, never by its path again: a folder
// swapped for a junction after the check changes nothing. Outside a held folder the calls
// behave as CreateFileW, MoveFileExW and DeleteFileW.
//
// The set of held folders belongs to the process: every writer of the service (files, run log,
// status, download) takes the same path through it.

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "win32/ScopedHandle.h"

// Holds the folder while alive; registered under its path (compared without regard to case).
class FolderHold : public HeldFolder {
 public:
  FolderHold(std::wstring folder, UniqueFile handle);
  ~FolderHold() override;
  FolderHold(const FolderHold&) = delete;
  FolderHold& operator=(const FolderHold&) = delete;

 private:
  std::wstring folder_;
  UniqueFile handle_;
};

// Opens the folder itself (a link is opened, never followed) for listing and holding.
UniqueFile OpenFolderForHold(const std::wstring& folder);

// As CreateFileW (same arguments; a link as last component is never followed when
// FILE_FLAG_OPEN_REPARSE_POINT is given). Sets the last error on failure.
UniqueFile OpenInFolder(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                        DWORD flagsAndAttributes);
// Renames `from` to `to` (same folder) through the file's own handle; replace: an existing `to`
// is replaced. A link moves as a link. Sets the last error and answers false on failure.
bool RenameInFolder(const std::wstring& from, const std::wstring& to, bool replace);
// Deletes the file (a link goes, not what it points to) through its own handle. Sets the last
// error and answers false on failure.
bool DeleteInFolder(const std::wstring& path);
// The names of the files (not folders) in the folder, through the held handle when it is held.
// nullopt when it cannot be listed.
std::optional<std::vector<std::wstring>> FileNamesInFolder(const std::wstring& folder);
