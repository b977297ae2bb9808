#pragma once
// What earlier exchanges and transfers left behind: staged copies and put-back targets go, of
// the backups only the newest generation stays, abandoned temporary downloads go. A file that a
// worker process still has loaded cannot be deleted and is tried again next time.

class FileSystem;
class RunLogLines;
class TDLLKonfiguration;

void RemoveLeftovers(FileSystem& files, const TDLLKonfiguration& konfiguration, RunLogLines& log);
