#pragma once
// The folders of the target DLLs, proven the service's all the way up before an exchange changes
// anything in them, and held until it ends: a site folder swapped for a junction after the
// check cannot turn the swaps and the cleanup into renames and deletions elsewhere. A folder that
// is not the service's stops the exchange before it begins; the warning event for it comes at
// most once a day.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class Clock;
class FileSystem;
class HeldFolder;
class OutcomeSink;
class RunLogLines;

class SiteFolders {
 public:
  SiteFolders(FileSystem* files, Clock& clock, RunLogLines& log, OutcomeSink* outcomes);
  ~SiteFolders();

  // Proves and holds the folder of every target. False (logged; a warning event once a day per
  // folder) when one is not the service's; nothing is held then.
  bool ProveAll(const std::vector<std::wstring>& targets);
  void Release();

 private:
  FileSystem* files_;  // null: nothing is changed in a site folder
  Clock& clock_;
  RunLogLines& log_;
  OutcomeSink* outcomes_;
  std::vector<std::unique_ptr<HeldFolder>> held_;
  std::map<std::wstring, int> warnedOn_;  // folder -> the local day (yyyymmdd) of its last event
};
