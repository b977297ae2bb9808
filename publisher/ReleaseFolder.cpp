#include "ReleaseFolder.h"

#include <windows.h>

#include "core/Exception.h"
#include "win32/Win32FileSystem.h"
#include "win32/Win32StatusFileStore.h"

namespace {

std::optional<std::string> ReadIfThere(const std::wstring& path) {
  try {
    return Win32FileSystem().ReadWhole(path);
  } catch (const Exception& e) {
    throw Exception(L"Die Datei " + path + L" ist nicht lesbar: " + e.Message());
  }
}

template <typename Info>
std::optional<Info> PayloadOf(const std::optional<std::string>& bytes, const std::wstring& path,
                              Info (*parse)(const std::string&)) {
  if (!bytes) return std::nullopt;
  try {
    return parse(ParseSignedEnvelope(*bytes).payload);
  } catch (const Exception& e) {
    throw Exception(L"Die vorhandene Datei " + path + L" ist nicht lesbar (" + e.Message() +
                    L"); die Folgenummer lässt sich nicht fortsetzen.");
  }
}

void Write(const std::wstring& path, const std::string& bytes) {
  try {
    Win32StatusFileStore().WriteAtomically(path, bytes);
  } catch (const Exception& e) {
    throw Exception(L"Die Datei " + path + L" ließ sich nicht schreiben: " + e.Message());
  }
}

}  // namespace

ReleaseFolder::ReleaseFolder(std::wstring folder) : folder_(std::move(folder)) {
  while (!folder_.empty() && (folder_.back() == L'\\' || folder_.back() == L'/')) {
    folder_.pop_back();
  }
}

std::wstring ReleaseFolder::ReleasePath() const { return folder_ + L"\\" + kReleaseFileName; }
std::wstring ReleaseFolder::TimestampPath() const { return folder_ + L"\\" + kTimestampFileName; }

std::optional<std::string> ReleaseFolder::ReadRelease() const { return ReadIfThere(ReleasePath()); }
std::optional<std::string> ReleaseFolder::ReadTimestamp() const {
  return ReadIfThere(TimestampPath());
}

std::optional<ReleaseInfo> ReleaseFolder::ExistingRelease() const {
  return PayloadOf(ReadRelease(), ReleasePath(), &ParseReleasePayload);
}

std::optional<TimestampInfo> ReleaseFolder::ExistingTimestamp() const {
  return PayloadOf(ReadTimestamp(), TimestampPath(), &ParseTimestampPayload);
}

std::wstring ReleaseFolder::WritePatch(const std::wstring& name, const std::string& bytes) const {
  const std::wstring folder = folder_ + L"\\patches";
  CreateDirectoryW(folder.c_str(), nullptr);  // an existing folder is fine; Write says the rest
  Write(folder + L"\\" + name, bytes);
  return folder + L"\\" + name;
}

void ReleaseFolder::WriteRelease(const std::string& bytes) const { Write(ReleasePath(), bytes); }
void ReleaseFolder::WriteTimestamp(const std::string& bytes) const {
  Write(TimestampPath(), bytes);
}
