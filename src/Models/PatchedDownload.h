#pragma once
// A few percent of the DLL on the wire: when the signed release names a patch from a copy that is
// installed here, the patch is downloaded (its size from the release the cap), its SHA-256
// checked, and decoded with that copy as the reference into the download's file; the result must
// be the release's DLL by its SHA-256. Any failure is one line, and the caller downloads the whole
// DLL in the same cycle.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Models/EnginePlatform.h"
#include "core/DownloadGuard.h"

class RunLogLines;
struct ReleaseInfo;

class PatchedDownload {
 public:
  PatchedDownload(const EnginePlatform& platform, RunLogLines& log);

  // Writes the release's DLL into `file`, made from a patch for one of the `installed` copies
  // (paths; the first whose hash a patch starts from). Answers the bytes saved on the wire, or
  // nothing when no patch starts from an installed copy or the patch failed (logged; `file` is
  // then removed).
  std::optional<std::uint64_t> Fetch(const ReleaseInfo& release,
                                     const std::vector<std::wstring>& installed,
                                     const std::wstring& file, DownloadLimits limits);

 private:
  const EnginePlatform& platform_;
  RunLogLines& log_;
};
