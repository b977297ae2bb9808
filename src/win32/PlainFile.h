#pragma once
// Files the service (LocalSystem) writes where another account may have planted a name.

#include <string>

// Raises Exception when path is a reparse point (a symbolic link, a junction, a mount point) or a
// file with more than one hard link: writing through either would write somewhere the service
// never meant to. A path that does not exist passes.
void RequirePlainFileOrAbsent(const std::wstring& path);
