#pragma once
// The folder of the running program file, ending with its last "\" (or ":"): the place of the INI
// file and the default for the download and run-log folders.

#include <string>

std::wstring ProgramFolder();

// The folder part of a path: everything up to and including its last "\" or ":".
std::wstring FolderOfPath(const std::wstring& path);
