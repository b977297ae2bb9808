#pragma once
// The release folder the tool publishes into: its two files, read back as the tool wrote them
// (their payloads, unverified: the tool only continues its own numbering) and replaced whole.

#include <optional>
#include <string>

#include "core/ReleaseFiles.h"

class ReleaseFolder {
 public:
  explicit ReleaseFolder(std::wstring folder);

  std::wstring ReleasePath() const;
  std::wstring TimestampPath() const;

  // The file's bytes; std::nullopt when it does not exist. Raises Exception when it cannot be read.
  std::optional<std::string> ReadRelease() const;
  std::optional<std::string> ReadTimestamp() const;

  // The payload of the file there; std::nullopt when there is none. Raises Exception when the
  // file is not such a file (the tool does not continue from what it cannot read).
  std::optional<ReleaseInfo> ExistingRelease() const;
  std::optional<TimestampInfo> ExistingTimestamp() const;

  // Writes through a temporary file beside the target and a rename: a host downloading at the
  // same time gets the old file or the new one. Raises Exception on failure.
  void WriteRelease(const std::string& bytes) const;
  void WriteTimestamp(const std::string& bytes) const;
  // A patch into the folder's "patches" subfolder (made when missing), by the same rule; answers
  // its file name.
  std::wstring WritePatch(const std::wstring& name, const std::string& bytes) const;

 private:
  std::wstring folder_;
};
