#include "support/MemoryLogFileStore.h"

#include <algorithm>

#include "core/Exception.h"

namespace {
constexpr std::uint64_t kVolume = 0x4B4F5256;
}

MemoryLogFileStore::File& MemoryLogFileStore::OpenOrCreate(const std::wstring& path) {
  if (blocked_.count(path) != 0) throw Exception(L"Datei kann nicht geöffnet werden: " + path);
  auto found = files_.find(path);
  if (found != files_.end()) return found->second;
  File& file = files_[path];
  file.index = nextIndex_++;
  file.lastWrite = ++clock_;
  return file;
}

void MemoryLogFileStore::Write(File& file, const std::string& bytes) {
  file.lastWrite = ++clock_;
  if (failAfter_) {
    std::size_t written = std::min(*failAfter_, bytes.size());
    file.bytes += bytes.substr(0, written);
    failAfter_.reset();
    throw Exception(L"Schreibfehler");
  }
  file.bytes += bytes;
  bytesWritten_ += bytes.size();
}

FileIdentity MemoryLogFileStore::IdentityOf(const File& file) const {
  return FileIdentity{kVolume, file.index, file.bytes.size(), file.lastWrite};
}

FileIdentity MemoryLogFileStore::Rewrite(const std::wstring& path, const std::string& bytes) {
  File& file = OpenOrCreate(path);
  file.bytes.clear();
  Write(file, bytes);
  ++rewrites_;
  return IdentityOf(file);
}

std::optional<FileIdentity> MemoryLogFileStore::AppendIfUnchanged(const std::wstring& path,
                                                                  const FileIdentity& expected,
                                                                  const std::string& bytes) {
  if (blocked_.count(path) != 0) throw Exception(L"Datei kann nicht geöffnet werden: " + path);
  auto found = files_.find(path);
  if (found == files_.end() || !(IdentityOf(found->second) == expected)) return std::nullopt;
  Write(found->second, bytes);
  ++appends_;
  return IdentityOf(found->second);
}

void MemoryLogFileStore::ForeignReplace(const std::wstring& path, const std::string& bytes) {
  File& file = files_[path];
  if (file.index == 0) file.index = nextIndex_++;
  file.bytes = bytes;
  file.lastWrite = ++clock_;
}

void MemoryLogFileStore::ForeignAppend(const std::wstring& path, const std::string& bytes) {
  std::string contents = Contents(path);
  ForeignReplace(path, contents + bytes);
}

std::string MemoryLogFileStore::Contents(const std::wstring& path) const {
  auto found = files_.find(path);
  return found == files_.end() ? std::string() : found->second.bytes;
}

bool MemoryLogFileStore::MoveIfPresent(const std::wstring& from, const std::wstring& to) {
  if (blocked_.count(from) != 0 || blocked_.count(to) != 0) {
    throw Exception(L"Der Prozess kann nicht auf die Datei zugreifen");
  }
  auto found = files_.find(from);
  if (found == files_.end()) return false;
  File moved = std::move(found->second);
  files_.erase(found);
  files_[to] = std::move(moved);
  return true;
}
