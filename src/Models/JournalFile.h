#pragma once
// The journal file of the running exchange in the protected download folder: the plan, written
// durably before the site is touched, then a few records that say how far the exchange got.

#include <string>

#include "core/ExchangeJournal.h"

class FileSystem;
class RunLogLines;

class JournalFile {
 public:
  JournalFile(FileSystem* files, std::wstring path, RunLogLines& log);

  const std::wstring& Path() const { return path_; }
  bool Exists();
  // Writes the plan as a new journal; logs the failure and answers false (no journal is left).
  bool Begin(const ExchangePlan& plan);
  // A record that cannot be written leaves the journal behind the files; a later recovery then
  // undoes more than needed, which still ends in a consistent set. Logs the failure.
  void Note(JournalStep step, std::size_t index = 0);
  // Marks an exchange whose site is recycled rather than stopped.
  void NoteRecycle();
  void Remove();

 private:
  void Append(const std::string& payload);

  FileSystem* files_;
  std::wstring path_;
  RunLogLines& log_;
};
