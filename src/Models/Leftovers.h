#pragma once
// What earlier exchanges and transfers left behind: staged copies and put-back targets go, of
// the backups only the newest generation stays, abandoned temporary downloads go. A file that a
// worker process still has loaded cannot be deleted and is tried again next time.

#include <functional>
#include <string>

class FileSystem;
class RunLogLines;
class TDLLKonfiguration;

// proveSiteFolders: called once before the first file in a site folder is removed, when the
// folders are not held already; false leaves every site folder as it is.
void RemoveLeftovers(FileSystem& files, const TDLLKonfiguration& konfiguration, RunLogLines& log,
                     const std::function<bool()>& proveSiteFolders = {});

// Whether a file named like one of the service's own may be taken for one: owned by SYSTEM, the
// Administrators or the service's account, and no link. Another account's is planted.
bool OwnedByServiceOrAdministrators(FileSystem& files, const std::wstring& path);
