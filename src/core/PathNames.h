#pragma once
// The folder and file-name parts of a Windows path, split at its last backslash.

#include <string>

// Up to and with the last backslash; empty when there is none.
std::wstring FolderOf(const std::wstring& path);
// After the last backslash; the whole path when there is none.
std::wstring FileNameOf(const std::wstring& path);
// Whether both name the same path, compared without regard to case, as Windows does.
bool SamePath(const std::wstring& a, const std::wstring& b);
// The form that opens a path longer than MAX_PATH: "\\?\C:\..." for a drive path,
// "\\?\UNC\server\share\..." for a share; any other path (relative, or already in that form)
// as it is.
std::wstring ExtendedLengthPath(const std::wstring& path);
