#include "Models/PartialDownload.h"

#include "Models/RunLog.h"
#include "core/Exception.h"
#include "core/ServiceFolderSecurity.h"
#include "platform/FileSystem.h"

PartialDownload::PartialDownload(FileSystem& files, std::wstring file, RunLogLines& log)
    : files_(files), file_(std::move(file)), record_(file_ + L".info"), log_(log) {}

// Whether the file may have been written only by the service or an administrator.
bool PartialDownload::Trusted(const std::wstring& path, std::wstring& whyNot) {
  const std::wstring owner = files_.OwnerOf(path);
  if (IsTrustedOwner(owner, files_.OwnAccountSid())) return true;
  whyNot = L"die Datei " + path +
           (owner.empty() ? L" ist ein Verweis oder gehört einem unbekannten Konto"
                          : L" gehört " + owner);
  return false;
}

// The record, when both files are the service's and it parses; else nothing (held 0), the
// reason logged.
PartialRecord PartialDownload::LoadTrusted() {
  std::optional<OwnedFile> record;
  std::wstring whyNot;
  try {
    record = files_.ReadWholeWithOwner(record_);
  } catch (const Exception& e) {
    whyNot = L"die Datei " + record_ + L" kann nicht gelesen werden: " + e.Message();
  }
  if (whyNot.empty() && !record) return {};  // nothing kept; a lone partial file just goes
  if (whyNot.empty() && record->linked) {
    whyNot = L"die Datei " + record_ + L" ist ein Verweis oder hat weitere harte Links";
  } else if (whyNot.empty() && !IsTrustedOwner(record->ownerSid, files_.OwnAccountSid())) {
    whyNot = L"die Datei " + record_ + L" gehört " +
             (record->ownerSid.empty() ? L"einem unbekannten Konto" : record->ownerSid);
  }
  ParsedPartialRecord parsed;
  if (whyNot.empty()) {
    parsed = ParsePartialRecord(record->bytes);
    if (!parsed.record) whyNot = L"die Datei " + record_ + L" ist unlesbar: " + parsed.whyNot;
  }
  if (whyNot.empty() && !files_.FileExists(file_)) return {};
  if (whyNot.empty() && Trusted(file_, whyNot)) return *parsed.record;
  log_.Log(L"Warnung: Angefangener Download verworfen: " + whyNot + L".");
  return {};
}

PartialRecord PartialDownload::Start(const std::wstring& url, std::uint64_t expectedTotal) {
  const PartialRecord kept = LoadTrusted();
  if (MayResume(kept, url, expectedTotal)) {
    log_.Log(L"Setze den Download bei Byte " + std::to_wstring(kept.held) + L" von " +
             std::to_wstring(kept.total) + L" fort.");
    return kept;
  }
  Drop();
  return PartialRecord{url, L"", expectedTotal, 0};
}

void PartialDownload::Keep(const PartialRecord& record) noexcept {
  if (!WorthKeeping(record)) return Drop();
  const std::wstring temp = record_ + L".neu";
  try {
    files_.RemoveIfExists(temp);
    files_.AppendDurably(temp, FormatPartialRecord(record));
    files_.ReplaceWith(temp, record_);
  } catch (...) {
    files_.RemoveIfExists(temp);
    Drop();
  }
}

void PartialDownload::Completed() noexcept { files_.RemoveIfExists(record_); }

void PartialDownload::Drop() noexcept {
  files_.RemoveIfExists(record_);
  files_.RemoveIfExists(file_);
}
