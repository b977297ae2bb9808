#pragma once
// The status files on disk: written through a temporary file and a rename, never through a link.

#include "platform/StatusFileStore.h"

class Win32StatusFileStore : public StatusFileStore {
 public:
  std::optional<std::string> ReadPlain(const std::wstring& path, std::size_t maxBytes) override;
  void WriteAtomically(const std::wstring& path, const std::string& bytes) override;
  bool FolderExists(const std::wstring& folder) override;
};

// Seconds since 1970 (UTC), for the metrics.
long long UnixTimeNow();
