#pragma once
// Keeps the run-log file equal to a full rewrite of the run log, at a constant cost per entry:
// a new line is appended when the file is still exactly what our last write left, and the whole
// log is rewritten otherwise (first write, after a failed write, a deleted or foreign-changed
// file).

#include <optional>
#include <string>
#include <vector>

#include "platform/LogFileStore.h"

class TextCodec;

class RunLogFile {
 public:
  // Brings the file at path to: every line in order, each followed by CR LF, in the ANSI code
  // page, with the UTF-8 byte-order mark first when that code page is 65001. Raises Exception when
  // the file cannot be written; the next call then rewrites it whole.
  void Save(LogFileStore& store, TextCodec& codec, const std::wstring& path,
            const std::vector<std::wstring>& lines);
  // How many earlier files to keep (Protokoll.1.txt and up) when the first write of this run
  // begins the file anew; 0 keeps none.
  void SetGenerations(int generations) { generations_ = generations; }

 private:
  void KeepEarlierRun(LogFileStore& store, const std::wstring& path);

  std::optional<FileIdentity> lastWrite_;  // the file as our last successful write left it
  std::wstring lastPath_;
  std::size_t linesInFile_ = 0;
  int generations_ = 0;
  bool shifted_ = false;  // the history is shifted once per run, whatever the outcome
};
