#pragma once
// The service's protected download folder: the download, the journal and the records live there.

#include <string>

class FileSystem;
class RunLogLines;

// Gives the folder the service's own access list; logs the failure and answers false.
bool ProtectDownloadFolder(FileSystem& files, const std::wstring& folder, RunLogLines& log);
