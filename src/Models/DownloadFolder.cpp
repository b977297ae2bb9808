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
