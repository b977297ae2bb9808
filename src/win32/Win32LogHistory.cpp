// The run log's history: earlier files are renamed, never copied or written, so a name that is a
// link moves as a link and nothing is written through it.
#include <windows.h>

#include "win32/HeldFolders.h"
#include "win32/Win32Error.h"
#include "win32/Win32LogFileStore.h"

bool Win32LogFileStore::MoveIfPresent(const std::wstring& from, const std::wstring& to) {
  if (RenameInFolder(from, to, true)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
  RaiseSystemError(error);
}
