#include "Models/DownloadFolder.h"

#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "core/Exception.h"
#include "core/FolderTrust.h"
#include "platform/FileSystem.h"

DownloadFolder::DownloadFolder(FileSystem* files, std::wstring folder, RunLogLines& log,
                               OutcomeSink* outcomes)
    : files_(files), folder_(std::move(folder)), log_(log), outcomes_(outcomes) {}

DownloadFolder::~DownloadFolder() = default;

bool DownloadFolder::Protect() {
  if (files_ == nullptr) return true;
  std::wstring protectFailure;
  try {
    files_->ProtectFolder(folder_);
  } catch (const Exception& e) {
    protectFailure = e.Message();
  }
  // A link or a foreign folder above says why better than the failed protection.
  if (!held_) {
    FolderCheck check = files_->HoldTrustedFolder(folder_);
    if (!check.held) {
      MeldeUnsicherenOrdner(log_, outcomes_, folder_, check.whyNot);
      return false;
    }
    held_ = std::move(check.held);
  }
  if (protectFailure.empty()) return true;
  held_.reset();
  log_.Log(L"Fehler beim Schützen des Download-Ordners: " + protectFailure);
  return false;
}

void DownloadFolder::Release() {
  held_.reset();
  madeAhead_ = false;
}

bool DownloadFolder::PrepareAhead() {
  if (files_ == nullptr) return true;
  if (!files_->DirectoryExists(folder_)) {
    try {
      Create();
    } catch (...) {
      log_.Log(L"Fehler beim erstellen des Verzeichnisses \"Download\".");
      return false;
    }
    madeAhead_ = true;
  }
  return Protect();
}

bool DownloadFolder::Missing() const {
  return madeAhead_ || (files_ != nullptr && !files_->DirectoryExists(folder_));
}

void DownloadFolder::Create() {
  madeAhead_ = false;
  if (files_ == nullptr) return;
  for (const std::wstring& above : FolderAndAncestors(folder_)) {
    if (!files_->DirectoryExists(above)) continue;
    FolderCheck check = files_->HoldTrustedFolder(above);
    if (!check.held) {
      MeldeUnsicherenOrdner(log_, outcomes_, above, check.whyNot);
      throw Exception(check.whyNot);
    }
    break;
  }
  files_->CreateDirectories(folder_);
}

void MeldeUnsicherenOrdner(RunLogLines& log, OutcomeSink* outcomes, const std::wstring& folder,
                           const std::wstring& why) {
  const std::wstring named = folder.ends_with(L"\\") ? folder : folder + L"\\";
  log.Log(L"Fehler beim Prüfen des Ordners " + named + L": " + why);
  ReportOutcome(outcomes, Outcome::FolderNotTrusted, {named, why});
}
