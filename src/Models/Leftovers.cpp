#include "Models/Leftovers.h"

#include <algorithm>
#include <set>
#include <string>

#include "Models/DLLKonfiguration.h"
#include "Models/RunLog.h"
#include "core/ExchangeJournal.h"
#include "core/PathNames.h"
#include "core/ServiceRecords.h"
#include "platform/FileSystem.h"

namespace {
void RemoveAbandonedDownloads(FileSystem& files, const TDLLKonfiguration& konfiguration) {
  files.RemoveIfExists(konfiguration.Downloadpfad() + kServiceRecordsFileName + L".neu");
  const std::wstring download = konfiguration.DLLDownloadpfad();
  for (const std::wstring& name :
       files.FileNamesStartingWith(FolderOf(download), FileNameOf(download) + L".")) {
    // A load probe's copy stays behind only when the process ended during the probe.
    if (name.ends_with(L".download") || name.ends_with(L"-probe.neu")) {
      files.RemoveIfExists(FolderOf(download) + name);
    }
  }
}
}  // namespace

void RemoveLeftovers(FileSystem& files, const TDLLKonfiguration& konfiguration, RunLogLines& log) {
  RemoveAbandonedDownloads(files, konfiguration);
  std::set<std::wstring> folders;
  for (const std::wstring& target : konfiguration.DLLPfadeListe()) {
    const std::wstring folder = FolderOf(target);
    if (!folders.insert(folder).second) continue;
    const std::wstring prefix = FileNameOf(target) + L".";
    const std::vector<std::wstring> names = files.FileNamesStartingWith(folder, prefix);
    std::wstring newest;
    for (const std::wstring& name : names) {
      if (name.ends_with(kBackupSuffix)) {
        newest = std::max(newest, GenerationSortKey(GenerationOfFileName(name, prefix)));
      }
    }
    for (const std::wstring& name : names) {
      const bool oldBackup = name.ends_with(kBackupSuffix) &&
                             GenerationSortKey(GenerationOfFileName(name, prefix)) != newest;
      if (!oldBackup && !name.ends_with(kStagedSuffix) && !name.ends_with(kDiscardedSuffix)) {
        continue;
      }
      const std::wstring path = folder + name;
      files.RemoveIfExists(path);
      if (!files.FileExists(path)) {
        log.Log((oldBackup ? L"Entferne alte Sicherung: " : L"Entferne Überbleibsel: ") + path);
      }
    }
  }
}
