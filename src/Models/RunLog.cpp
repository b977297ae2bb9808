#include "Models/RunLog.h"

#include "Models/DownloadFolder.h"
#include "core/DateTimeFormat.h"
#include "core/Exception.h"
#include "core/PathNames.h"
#include "platform/EventSink.h"
#include "platform/LogFileStore.h"

// A failure is its line, then "Ursache: " and the reason on one line of its own, whatever line
// breaks the platform's text holds.
void RunLogLines::Fail(const std::wstring& line, const std::wstring& reason) {
  Log(line);
  std::wstring oneLine;
  for (wchar_t c : reason) {
    if (c == L'\r') continue;
    oneLine += c == L'\n' ? L' ' : c;
  }
  Log(L"Ursache: " + (oneLine.empty() ? L"Unbekannter Fehler" : oneLine));
}

RunLog::RunLog(const EnginePlatform& platform, std::function<std::wstring()> path, int generations)
    : platform_(platform), path_(std::move(path)) {
  file_.SetGenerations(generations);
}

void RunLog::Log(const std::wstring& line) {
  if (line.rfind(L"Fehler", 0) == 0) failed_ = true;
  lines_.push_back(FormatTimeStamp(platform_.clock->Now(), platform_.regional) + L": " + line);
  if (!held_) Save();
  if (platform_.protokollEcho) {
    try {
      platform_.protokollEcho(lines_.back());
    } catch (...) {
    }
  }
}

void RunLog::ResumeWrites() {
  if (!held_) return;
  held_ = false;
  Save();
}

// The run log must never disturb the operation that logs.
void RunLog::Save() {
  if (!ProveFolder()) return;
  try {
    file_.Save(*platform_.logFiles, *platform_.codec, path_(), lines_);
    refused_ = false;
  } catch (const LinkedFileRefused& e) {
    // Said once in the event log, not at every line; the run log stays in memory.
    if (!refused_ && platform_.events)
      platform_.events->ReportError(platform_.eventSource, e.Message());
    refused_ = true;
  } catch (...) {
  }
  if (!inCycle_) folder_.reset();
}

void RunLog::BeginCycle() {
  EndCycle();
  failed_ = passing_ = false;
  inCycle_ = true;
}

void RunLog::EndCycle() {
  inCycle_ = false;
  folderRefused_ = false;
  folder_.reset();
}

bool RunLog::ProveFolder() {
  if (folder_) return true;
  if (folderRefused_) return false;
  FileSystem* files = platform_.files;
  if (files == nullptr || !platform_.logFiles->WritesFiles()) return true;
  const std::wstring folder = FolderOf(path_());
  if (folder.empty() || !files->DirectoryExists(folder)) return true;
  // A folder that cannot be protected is refused too; a link or a foreign folder above says
  // why better than the failed protection.
  std::wstring protectFailure;
  try {
    files->ProtectFolder(folder);
  } catch (const Exception& e) {
    protectFailure = e.Message();
  }
  FolderCheck check = files->HoldTrustedFolder(folder);
  std::wstring why = check.held ? protectFailure : check.whyNot;
  if (why.empty()) {
    folder_ = std::move(check.held);
    return true;
  }
  folderRefused_ = true;
  MeldeUnsicherenOrdner(*this, platform_.outcomes, folder, why);
  return false;
}
