#include "support/FakeFileSystem.h"

#include <cwctype>

namespace {
std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::towupper(text[i]) != std::towupper(prefix[i])) return false;
  }
  return true;
}

void ThrowIfBusy(std::map<std::wstring, int>& busy, const std::wstring& path,
                 std::vector<std::wstring>& timeline) {
  auto found = busy.find(path);
  if (found == busy.end() || found->second == 0) return;
  if (found->second > 0) --found->second;
  timeline.push_back(L"busy " + path);
  throw FileBusyError(L"Der Prozess kann nicht auf die Datei zugreifen");
}

void ThrowIfPinned(const std::map<std::wstring, int>& pinned, const std::wstring& path) {
  auto found = pinned.find(path);
  if (found != pinned.end() && found->second > 0) {
    throw FileBusyError(L"Die Datei wird von einem anderen Prozess verwendet: " + path);
  }
}

class FakeHeldFile : public HeldFile {
 public:
  FakeHeldFile(FakeFileSystem& fs, std::string bytes, long identity, std::wstring pinnedPath = L"")
      : fs_(fs), bytes_(std::move(bytes)), identity_(identity), pinnedPath_(std::move(pinnedPath)) {
    if (!pinnedPath_.empty()) ++fs_.pinned[pinnedPath_];
  }
  ~FakeHeldFile() override {
    if (!pinnedPath_.empty()) --fs_.pinned[pinnedPath_];
  }
  std::string ReadHead(std::size_t maxBytes) override { return bytes_.substr(0, maxBytes); }
  void* SystemHandle() override { return nullptr; }
  std::string Sha256() override { return FakeFileSystem::FakeHash(bytes_); }
  void CopyDurablyTo(const std::wstring& target) override {
    fs_.MayFail(L"copy " + target);
    if (fs_.failingCopyTargets.count(target)) {
      throw Exception(L"Kopieren nach " + target + L" fehlgeschlagen");
    }
    fs_.files[target] = bytes_;
    fs_.SetIdentity(target, fs_.NewIdentity());
    fs_.Changed(L"copy " + target);
  }
  bool IsAt(const std::wstring& path) override {
    return fs_.files.count(path) > 0 && fs_.IdentityOf(path) == identity_;
  }

 private:
  FakeFileSystem& fs_;
  std::string bytes_;
  long identity_;
  std::wstring pinnedPath_;
};
}  // namespace

std::wstring ParentFolder(const std::wstring& path) {
  const std::size_t end = path.find_last_of(L'\\');
  return end == std::wstring::npos ? std::wstring() : path.substr(0, end);
}

bool FakeFileSystem::Overwrite(const std::wstring& path, const std::string& bytes) {
  auto held = pinned.find(path);
  if (held != pinned.end() && held->second > 0) return false;
  files[path] = bytes;
  identities_[path] = NewIdentity();
  return true;
}

long FakeFileSystem::IdentityOf(const std::wstring& path) const {
  auto found = identities_.find(path);
  return found == identities_.end() ? 0 : found->second;
}

void FakeFileSystem::Changed(const std::wstring& entry) {
  timeline_.push_back(entry);
  if (afterChange) afterChange();
}

void FakeFileSystem::MayFail(const std::wstring& what) {
  if (failChangeCountdown > 0 && --failChangeCountdown == 0) {
    if (!laterFailures.empty()) {
      failChangeCountdown = laterFailures.front();
      laterFailures.erase(laterFailures.begin());
    }
    throw Exception(L"Eingeschleuster Fehler bei " + what);
  }
}

bool FakeFileSystem::DirectoryExists(const std::wstring& path) {
  return folders.count(WithoutTrailingBackslash(path)) > 0;
}

void FakeFileSystem::CreateDirectories(const std::wstring& path) {
  if (failFolderCreation) throw Exception(L"Zugriff verweigert");
  for (std::wstring folder = WithoutTrailingBackslash(path); !folder.empty();
       folder = ParentFolder(folder)) {
    folders.insert(folder);
  }
  timeline_.push_back(L"mkdir " + path);
}

void FakeFileSystem::CopyOver(const std::wstring& source, const std::wstring& target) {
  if (failingCopyTargets.count(target) || !files.count(source)) {
    throw Exception(L"Kopieren nach " + target + L" fehlgeschlagen");
  }
  files[target] = files[source];
  identities_[target] = NewIdentity();
  Changed(L"copy " + target);
}

void FakeFileSystem::ReplaceWith(const std::wstring& source, const std::wstring& target) {
  ThrowIfBusy(busyTargets, target, timeline_);
  ThrowIfPinned(pinned, source);
  ThrowIfPinned(pinned, target);
  auto found = files.find(source);
  if (found == files.end()) throw Exception(L"Datei nicht gefunden: " + source);
  MayFail(L"replace " + target);
  files[target] = found->second;
  files.erase(source);
  identities_[target] = IdentityOf(source);
  Changed(L"replace " + target);
}

void FakeFileSystem::RemoveIfExists(const std::wstring& path) noexcept {
  auto held = pinned.find(path);
  if (undeletable.count(path) || !files.count(path) || (held != pinned.end() && held->second > 0))
    return;
  files.erase(path);
  Changed(L"remove " + path);
}

std::string FakeFileSystem::ReadHead(const std::wstring& path, std::size_t maxBytes) {
  auto found = files.find(path);
  if (found == files.end()) throw Exception(L"Datei nicht gefunden: " + path);
  return found->second.substr(0, maxBytes);
}

std::unique_ptr<HeldFile> FakeFileSystem::HoldAgainstWriters(const std::wstring& path) {
  auto found = files.find(path);
  if (found == files.end()) throw Exception(L"Datei nicht gefunden: " + path);
  return std::make_unique<FakeHeldFile>(*this, found->second, IdentityOf(path));
}

void FakeFileSystem::MoveAside(const std::wstring& source, const std::wstring& target) {
  ThrowIfBusy(busyTargets, source, timeline_);
  ThrowIfPinned(pinned, source);
  auto found = files.find(source);
  if (found == files.end()) throw Exception(L"Datei nicht gefunden: " + source);
  if (files.count(target)) throw Exception(L"Die Datei ist bereits vorhanden: " + target);
  MayFail(L"move " + source);
  files[target] = found->second;
  files.erase(source);
  identities_[target] = IdentityOf(source);
  if (undeletable.erase(source)) undeletable.insert(target);
  Changed(L"move " + source + L" -> " + target);
}

bool FakeFileSystem::FileExists(const std::wstring& path) { return files.count(path) > 0; }

std::vector<std::wstring> FakeFileSystem::FileNamesStartingWith(const std::wstring& folder,
                                                                const std::wstring& prefix) {
  std::vector<std::wstring> names;
  const std::wstring parent = WithoutTrailingBackslash(folder);
  for (const auto& [path, bytes] : files) {
    const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    if (ParentFolder(path) == parent && StartsWithIgnoringCase(name, prefix)) {
      names.push_back(name);
    }
  }
  return names;
}

void FakeFileSystem::AppendDurably(const std::wstring& path, const std::string& bytes) {
  MayFail(L"append " + path);
  files[path] += bytes;
  Changed(L"append " + path);
}

std::optional<std::string> FakeFileSystem::ReadWhole(const std::wstring& path) {
  auto found = files.find(path);
  if (found == files.end()) return std::nullopt;
  return found->second;
}

std::unique_ptr<HeldFile> FakeFileSystem::HoldUnchanged(const std::wstring& path) {
  auto found = files.find(path);
  if (found == files.end()) throw Exception(L"Datei nicht gefunden: " + path);
  return std::make_unique<FakeHeldFile>(*this, found->second, IdentityOf(path), path);
}

std::optional<OwnedFile> FakeFileSystem::ReadWholeWithOwner(const std::wstring& path) {
  auto found = files.find(path);
  if (found == files.end()) return std::nullopt;
  if (unreadable.count(path))
    throw Exception(L"Die Datei wird von einem anderen Prozess verwendet");
  auto owner = owners.find(path);
  OwnedFile owned{found->second, owner == owners.end() ? ownAccount : owner->second,
                  linked.count(path) > 0};
  if (owned.linked) owned.bytes.clear();
  return owned;
}

std::wstring FakeFileSystem::OwnerOf(const std::wstring& path) {
  if (!files.count(path) || linked.count(path)) return L"";
  auto owner = owners.find(path);
  return owner == owners.end() ? ownAccount : owner->second;
}

void FakeFileSystem::ProtectFolder(const std::wstring& path) {
  if (const auto failure = protectFailures.find(path); failure != protectFailures.end()) {
    throw Exception(failure->second);
  }
  timeline_.push_back(L"protect " + path);
}

namespace {
class FakeHeldFolder : public HeldFolder {
 public:
  FakeHeldFolder(std::map<std::wstring, int>& held, std::wstring folder)
      : held_(held), folder_(std::move(folder)) {
    ++held_[folder_];
  }
  ~FakeHeldFolder() override {
    if (--held_[folder_] == 0) held_.erase(folder_);
  }

 private:
  std::map<std::wstring, int>& held_;
  std::wstring folder_;
};
}  // namespace

FolderCheck FakeFileSystem::HoldTrustedFolder(const std::wstring& folder) {
  std::wstring key = folder;
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  FolderCheck check;
  const auto untrusted = untrustedFolders.find(key);
  if (untrusted != untrustedFolders.end()) {
    check.whyNot = untrusted->second;
  } else {
    check.held = std::make_unique<FakeHeldFolder>(heldFolders, key);
  }
  return check;
}

void FakeFileSystem::ProtectProbeCopy(const std::wstring& path) {
  if (!files.count(path)) throw Exception(L"Datei nicht gefunden: " + path);
  probeCopies.insert(path);
}
