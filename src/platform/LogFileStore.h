#pragma once
// Writes the run-log file. Each call opens the file exclusively (no sharing) and closes it again.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Exception.h"

// Raised for a run-log file that is a reparse point (symbolic link, junction, mount point) or has
// other hard links: writing it would write somewhere else than the run log.
class LinkedFileRefused : public Exception {
 public:
  using Exception::Exception;
};

// What identifies the file's state after our own last write: a different file, size or
// modification time means somebody else has touched it since.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t size = 0;
  std::uint64_t lastWrite = 0;
  bool operator==(const FileIdentity&) const = default;
};

class LogFileStore {
 public:
  virtual ~LogFileStore() = default;
  // Creates the file or cuts it to zero length, writes bytes, closes it. Raises LinkedFileRefused
  // (writing nothing) for a linked file, Exception when it cannot be opened or written.
  virtual FileIdentity Rewrite(const std::wstring& path, const std::string& bytes) = 0;
  // Appends bytes only when the file is still exactly `expected` (checked while it is held open
  // exclusively); returns std::nullopt and writes nothing otherwise. Raises Exception on a failed
  // open or write.
  virtual std::optional<FileIdentity> AppendIfUnchanged(const std::wstring& path,
                                                        const FileIdentity& expected,
                                                        const std::string& bytes) = 0;
  // Renames `from` to `to`, replacing `to`. Answers false when `from` does not exist; raises
  // Exception when it exists and cannot be moved. Used to keep earlier run logs.
  virtual bool MoveIfPresent(const std::wstring& from, const std::wstring& to) = 0;
  // False for a store that keeps nothing (a check that must leave no trace): its folder is
  // neither protected nor proven.
  virtual bool WritesFiles() const { return true; }
};
