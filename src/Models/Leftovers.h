#pragma once
// What earlier exchanges and transfers left behind: staged copies and put-back targets go, of
// the backups only the newest generation stays, abandoned temporary downloads go. A file that a
// worker process still has loaded cannot be deleted and is tried again next time.

#include <string>

class FileSystem;
class RunLogLines;
class TDLLKonfiguration;

void RemoveLeftovers(FileSystem& files, const TDLLKonfiguration& konfiguration, RunLogLines& log);

// Whether a file named like one of the service's own may be taken for one: owned by SYSTEM, the
// Administrators or the service's account, and no link. Another account's is planted.
bool OwnedByServiceOrAdministrators(FileSystem& files, const std::wstring& path);
