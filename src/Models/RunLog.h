#pragma once
// The run log of one engine: every line in memory with its time stamp, each written to the file
// as it is made, and what the lines of the running cycle say about it (a failure, and whether
// that failure was a passing one).

#include <memory>
#include <string>
#include <vector>

#include "Models/EnginePlatform.h"
#include "Models/RunLogFile.h"
#include "platform/FileSystem.h"

// What the units of the engine need of the run log.
class RunLogLines {
 public:
  virtual ~RunLogLines() = default;
  // Adds one line. A line that begins with "Fehler" marks the cycle failed. Never raises.
  virtual void Log(const std::wstring& line) = 0;
  // The failure line, then "Ursache: " and the reason on one line of its own.
  void Fail(const std::wstring& line, const std::wstring& reason);
  // The failure of this cycle is a passing one (worth a retry within the window).
  virtual void NotePassing() = 0;
  virtual const std::vector<std::wstring>& Lines() const = 0;
  // While held, lines are kept in memory only and reach the file together when writing resumes:
  // a moment that must be short (the site's downtime) pays for no file write.
  virtual void HoldWrites() = 0;
  virtual void ResumeWrites() = 0;
};

class RunLog : public RunLogLines {
 public:
  // The file's path is asked anew at every write (the configuration names it).
  RunLog(const EnginePlatform& platform, std::function<std::wstring()> path, int generations);

  void Log(const std::wstring& line) override;
  void NotePassing() override { passing_ = true; }
  const std::vector<std::wstring>& Lines() const override { return lines_; }
  void HoldWrites() override { held_ = true; }
  void ResumeWrites() override;

  // Writes the whole log to the file; a write that fails is skipped without a trace, and the next
  // line writes the complete log again.
  void Save();
  void BeginCycle();
  // The cycle's writes are over: the file's folder is let go.
  void EndCycle();
  // Gives the file's folder the service's own access list and proves it the service's all the
  // way up, before the first write of a cycle; holds it until the cycle ends (outside a cycle,
  // for one write). False when it is not: the lines then stay in memory for the rest of the
  // cycle, and the failure is logged (in memory) and reported once. A folder that does not exist
  // is left to the write, which fails.
  bool ProveFolder();
  bool FolderRefused() const { return folderRefused_; }
  bool FailedInCycle() const { return failed_; }
  bool PassingFailure() const { return passing_; }

 private:
  const EnginePlatform& platform_;
  std::function<std::wstring()> path_;
  RunLogFile file_;
  std::vector<std::wstring> lines_;
  bool failed_ = false;
  bool passing_ = false;
  bool held_ = false;
  bool refused_ = false;  // the file was refused as a link: said once in the event log
  bool inCycle_ = false;
  bool folderRefused_ = false;
  std::unique_ptr<HeldFolder> folder_;
};

// Holds the run log's file writes for one scope.
class HeldRunLogWrites {
 public:
  explicit HeldRunLogWrites(RunLogLines& log) : log_(log) { log_.HoldWrites(); }
  ~HeldRunLogWrites() { log_.ResumeWrites(); }
  HeldRunLogWrites(const HeldRunLogWrites&) = delete;
  HeldRunLogWrites& operator=(const HeldRunLogWrites&) = delete;

 private:
  RunLogLines& log_;
};
