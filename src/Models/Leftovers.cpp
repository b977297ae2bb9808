#include "Models/Leftovers.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "Models/DLLKonfiguration.h"
#include "Models/PartialDownload.h"
#include "Models/RunLog.h"
#include "core/ExchangeJournal.h"
#include "core/PathNames.h"
#include "core/ServiceFolderSecurity.h"
#include "core/ServiceRecords.h"
#include "platform/FileSystem.h"

namespace {
// A transfer's temporary file and, beside it, the part file the downloader wrote first (both of
// earlier versions of the service); a stop during a stalled transfer left either behind. A
// partial download with its record stays: the next transfer decides about it.
void RemoveAbandonedDownloads(FileSystem& files, const TDLLKonfiguration& konfiguration) {
  files.RemoveIfExists(konfiguration.Downloadpfad() + kServiceRecordsFileName + L".neu");
  const std::wstring partial = konfiguration.DLLDownloadpfad() + kPartialSuffix;
  files.RemoveIfExists(partial + L".info.neu");
  // Without its record a partial download is never gone on from (a power cut during the
  // exchange leaves the verified download so).
  if (!files.FileExists(partial + L".info")) files.RemoveIfExists(partial);
  const std::wstring download = konfiguration.DLLDownloadpfad();
  for (const std::wstring& name :
       files.FileNamesStartingWith(FolderOf(download), FileNameOf(download) + L".")) {
    // A load probe's copy stays behind only when the process ended during the probe; a part
    // file only when the service stopped during a stalled download.
    if (name.ends_with(L".download") || name.ends_with(L".download.part") ||
        name.ends_with(L"-probe.neu")) {
      files.RemoveIfExists(FolderOf(download) + name);
    }
  }
}
}  // namespace

bool OwnedByServiceOrAdministrators(FileSystem& files, const std::wstring& path) {
  return IsTrustedOwner(files.OwnerOf(path), files.OwnAccountSid());
}

// A backup of another account is planted: it is never the newest, so that it cannot cost the
// real newest its place, and it is not removed either; the administrator finds it as it was.
void RemoveLeftovers(FileSystem& files, const TDLLKonfiguration& konfiguration, RunLogLines& log,
                     const std::function<bool()>& proveSiteFolders) {
  RemoveAbandonedDownloads(files, konfiguration);
  // Looking costs nothing; a site folder is changed only once it is proven the service's.
  std::optional<bool> proven;
  if (!proveSiteFolders) proven = true;
  std::set<std::wstring> folders;
  for (const std::wstring& target : konfiguration.DLLPfadeListe()) {
    const std::wstring folder = FolderOf(target);
    if (!folders.insert(folder).second) continue;
    const std::wstring prefix = FileNameOf(target) + L".";
    std::vector<std::wstring> names;
    std::wstring newest;
    for (const std::wstring& name : files.FileNamesStartingWith(folder, prefix)) {
      const bool backup = name.ends_with(kBackupSuffix);
      if (backup && !OwnedByServiceOrAdministrators(files, folder + name)) continue;
      names.push_back(name);
      if (backup) newest = std::max(newest, GenerationSortKey(GenerationOfFileName(name, prefix)));
    }
    for (const std::wstring& name : names) {
      const bool oldBackup = name.ends_with(kBackupSuffix) &&
                             GenerationSortKey(GenerationOfFileName(name, prefix)) != newest;
      if (!oldBackup && !name.ends_with(kStagedSuffix) && !name.ends_with(kDiscardedSuffix)) {
        continue;
      }
      if (!proven) proven = proveSiteFolders();
      if (!*proven) return;
      const std::wstring path = folder + name;
      files.RemoveIfExists(path);
      if (!files.FileExists(path)) {
        log.Log((oldBackup ? L"Entferne alte Sicherung: " : L"Entferne Überbleibsel: ") + path);
      }
    }
  }
}
