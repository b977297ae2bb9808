#pragma once
// The partial DLL download in the protected download folder ("KorvalAppServer.dll.teil") and its
// record beside it ("KorvalAppServer.dll.teil.info", core/ResumeRule.h), kept from one attempt
// to the next. Both are read back with the suspicion of the service's records: a record or
// partial file of another account, a link, or a record that does not parse drops both (logged
// as a warning); a record of another address or size (a new release) drops both without a word.

#include <cstdint>
#include <string>

#include "core/ResumeRule.h"

class FileSystem;
class RunLogLines;

// The partial file's name is the download's with this suffix.
inline constexpr wchar_t kPartialSuffix[] = L".teil";

class PartialDownload {
 public:
  // file: the partial file's path; the record is file + ".info".
  PartialDownload(FileSystem& files, std::wstring file, RunLogLines& log);

  const std::wstring& File() const { return file_; }
  // What the next attempt at url starts from: the record when the rule lets it go on (logged),
  // else nothing held, with expectedTotal (0: not known) as the size, and the partial file and
  // record dropped.
  PartialRecord Start(const std::wstring& url, std::uint64_t expectedTotal);
  // After an attempt that ended early: the record is written (a temporary file, flushed, then
  // renamed over it) when its bytes are worth keeping; else, or when it cannot be written,
  // both are dropped. Never raises.
  void Keep(const PartialRecord& record) noexcept;
  // The file is whole: the record goes, the file stays for the checks.
  void Completed() noexcept;
  // Removes the partial file and its record.
  void Drop() noexcept;

 private:
  bool Trusted(const std::wstring& path, std::wstring& whyNot);
  PartialRecord LoadTrusted();

  FileSystem& files_;
  std::wstring file_;
  std::wstring record_;
  RunLogLines& log_;
};
