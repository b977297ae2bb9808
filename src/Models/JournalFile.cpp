#include "Models/JournalFile.h"

#include "Models/RunLog.h"
#include "core/AppPoolRecycle.h"
#include "core/Exception.h"
#include "platform/FileSystem.h"

JournalFile::JournalFile(FileSystem* files, std::wstring path, RunLogLines& log)
    : files_(files), path_(std::move(path)), log_(log) {}

bool JournalFile::Exists() { return files_ != nullptr && files_->FileExists(path_); }

bool JournalFile::Begin(const ExchangePlan& plan) {
  try {
    files_->RemoveIfExists(path_);
    files_->AppendDurably(path_, EncodeJournalRecord(PlanRecord(plan)));
    return true;
  } catch (const Exception& e) {
    files_->RemoveIfExists(path_);
    log_.Log(L"Fehler beim Schreiben des Austauschjournals: " + e.Message());
    return false;
  }
}

void JournalFile::Note(JournalStep step, std::size_t index) { Append(StepRecord(step, index)); }

void JournalFile::NoteRecycle() { Append(RecycleJournalPayload()); }

void JournalFile::Remove() { files_->RemoveIfExists(path_); }

void JournalFile::Append(const std::string& payload) {
  try {
    files_->AppendDurably(path_, EncodeJournalRecord(payload));
  } catch (const Exception& e) {
    log_.Log(L"Fehler beim Schreiben des Austauschjournals: " + e.Message());
  }
}
