#pragma once
// The files of the status an administrator polls (Status.json, the metrics file): written whole
// and atomically, never through a link another account may have planted.

#include <cstddef>
#include <optional>
#include <string>

class StatusFileStore {
 public:
  virtual ~StatusFileStore() = default;
  // Up to maxBytes of the file; std::nullopt when it does not exist. Raises Exception when the
  // name is a reparse point or a file with more than one hard link, when the file belongs to
  // another account than SYSTEM, the Administrators or the service's own, or when it cannot be
  // read.
  virtual std::optional<std::string> ReadPlain(const std::wstring& path, std::size_t maxBytes) = 0;
  // Writes a temporary file beside path, flushes it and renames it over path, so a reader sees
  // the old file or the new one, never a part. Raises Exception (and writes nothing) when path is
  // a reparse point or a hard-linked file, or a step fails.
  virtual void WriteAtomically(const std::wstring& path, const std::string& bytes) = 0;
  virtual bool FolderExists(const std::wstring& folder) = 0;
};
