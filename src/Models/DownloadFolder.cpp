#include "Models/DownloadFolder.h"

#include "Models/RunLog.h"
#include "core/Exception.h"
#include "platform/FileSystem.h"

bool ProtectDownloadFolder(FileSystem& files, const std::wstring& folder, RunLogLines& log) {
  try {
    files.ProtectFolder(folder);
    return true;
  } catch (const Exception& e) {
    log.Log(L"Fehler beim Schützen des Download-Ordners: " + e.Message());
    return false;
  }
}

bool EnsureProtectedDownloadFolder(FileSystem& files, const std::wstring& folder, RunLogLines& log,
                                   const std::wstring& failureLine) {
  try {
    if (!files.DirectoryExists(folder)) files.CreateDirectories(folder);
  } catch (const Exception& e) {
    log.Log(failureLine + e.Message());
    return false;
  }
  return ProtectDownloadFolder(files, folder, log);
}
