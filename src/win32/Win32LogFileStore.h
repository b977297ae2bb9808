#pragma once
// The run-log file on disk: opened exclusively for one write and closed again.

#include "platform/LogFileStore.h"

class Win32LogFileStore : public LogFileStore {
 public:
  FileIdentity Rewrite(const std::wstring& path, const std::string& bytes) override;
  // A file that does not exist (any more) is not unchanged: std::nullopt.
  std::optional<FileIdentity> AppendIfUnchanged(const std::wstring& path,
                                                const FileIdentity& expected,
                                                const std::string& bytes) override;
  // In Win32LogHistory.cpp.
  bool MoveIfPresent(const std::wstring& from, const std::wstring& to) override;
};
