#pragma once
// Run-log files in memory, keyed by path. Behaves like a real file system for the identity of a
// file: a new file gets a new index, every write (ours or a foreign one) a new modification time.
// Tests can make opens fail (missing folder, file held open elsewhere), make the next write fail
// part-way, delete a file, or change it as another writer would.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/LogFileStore.h"

class MemoryLogFileStore : public LogFileStore {
 public:
  FileIdentity Rewrite(const std::wstring& path, const std::string& bytes) override;
  std::optional<FileIdentity> AppendIfUnchanged(const std::wstring& path,
                                                const FileIdentity& expected,
                                                const std::string& bytes) override;
  // Fails like an open when either name is blocked.
  bool MoveIfPresent(const std::wstring& from, const std::wstring& to) override;

  // Every open of path fails with Exception until allowed again.
  void BlockOpens(const std::wstring& path) { blocked_.insert(path); }
  void AllowOpens(const std::wstring& path) { blocked_.erase(path); }
  // The next write that gets its file open writes bytesBeforeFailure bytes (a rewrite after
  // cutting the file to zero), then raises Exception.
  void FailNextWrite(std::size_t bytesBeforeFailure = 0) { failAfter_ = bytesBeforeFailure; }
  bool WriteFailurePending() const { return failAfter_.has_value(); }

  // What other writers do to a file.
  void Remove(const std::wstring& path) { files_.erase(path); }
  void ForeignReplace(const std::wstring& path, const std::string& bytes);
  void ForeignAppend(const std::wstring& path, const std::string& bytes);

  bool Exists(const std::wstring& path) const { return files_.count(path) != 0; }
  // The file's bytes; empty when it does not exist.
  std::string Contents(const std::wstring& path) const;

  // Counters of our own writes that reached the file, to see which way a save went and what
  // it cost.
  int Rewrites() const { return rewrites_; }
  int Appends() const { return appends_; }
  std::uint64_t BytesWritten() const { return bytesWritten_; }

 private:
  struct File {
    std::uint64_t index = 0;
    std::uint64_t lastWrite = 0;
    std::string bytes;
  };

  File& OpenOrCreate(const std::wstring& path);
  void Write(File& file, const std::string& bytes);
  FileIdentity IdentityOf(const File& file) const;

  std::map<std::wstring, File> files_;
  std::set<std::wstring> blocked_;
  std::optional<std::size_t> failAfter_;
  std::uint64_t nextIndex_ = 1;
  std::uint64_t clock_ = 0;
  int rewrites_ = 0;
  int appends_ = 0;
  std::uint64_t bytesWritten_ = 0;
};
