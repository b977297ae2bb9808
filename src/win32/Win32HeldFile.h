#pragma once
// A file held open for reading (platform/FileSystem.h): readers may share it, and it may be
// renamed; nobody may write it.

#include <windows.h>

#include "platform/FileSystem.h"
#include "win32/ScopedHandle.h"

class Win32HeldFile : public HeldFile {
 public:
  explicit Win32HeldFile(UniqueFile file);

  std::string Sha256() override;
  bool IsAt(const std::wstring& path) override;
  std::string ReadHead(std::size_t maxBytes) override;
  void* SystemHandle() override { return file_.Get(); }
  void CopyDurablyTo(const std::wstring& target) override;

 private:
  UniqueFile file_;
  // The held file's identity, read once when it is held, before any downtime: each query costs
  // as much as a rename, and the identity of an open file never changes.
  BY_HANDLE_FILE_INFORMATION identity_{};
  bool identityKnown_ = false;
};
