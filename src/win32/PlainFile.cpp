#include "win32/PlainFile.h"

#include <windows.h>

#include "core/Exception.h"
#include "win32/HeldFolders.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

void RequirePlainFileOrAbsent(const std::wstring& path) {
  // Opened without following a link, and without access to the content: only its attributes.
  UniqueFile file = OpenInFolder(
      path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
  if (!file) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    RaiseSystemError(error);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.Get(), &info)) RaiseSystemError(GetLastError());
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    throw Exception(L"Die Datei ist ein Verweis (Reparse-Punkt) und wird nicht geschrieben: " +
                    path);
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    throw Exception(L"Der Name ist ein Ordner: " + path);
  }
  if (info.nNumberOfLinks > 1) {
    throw Exception(L"Die Datei hat mehrere feste Verknüpfungen und wird nicht geschrieben: " +
                    path);
  }
}
