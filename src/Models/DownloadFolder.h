#pragma once
// The service's protected download folder: the download, the journal and the records live there.
// Before the service writes into it, the folder gets the service's own access list and is proven
// the service's all the way up to its volume root; the proof holds it until the cycle ends, so
// that nothing can take its place in between.

#include <memory>
#include <string>

class FileSystem;
class HeldFolder;
class OutcomeSink;
class RunLogLines;

class DownloadFolder {
 public:
  DownloadFolder(FileSystem* files, std::wstring folder, RunLogLines& log, OutcomeSink* outcomes);
  ~DownloadFolder();

  // Protects and proves the folder, which must exist; once proven it stays held until Release.
  // Logs the failure (and reports a folder that is not the service's) and answers false.
  bool Protect();
  void Release();
  // Makes the folder with every missing parent, once the nearest folder above it that exists is
  // proven the service's (else the new folders could be made through a link). Raises Exception
  // (after logging and reporting a folder that is not the service's) when it cannot.
  void Create();
  // Before a cycle's first step (the cycle lock lives in the folder): makes it quietly when it is
  // missing (the download of that cycle still finds it missing, so that its lines stay where they
  // belong), then protects and proves it. Logs the failure; false then.
  bool PrepareAhead();
  // Whether the download must make the folder: it does not exist, or was only made ahead.
  bool Missing() const;

 private:
  FileSystem* files_;  // null: nothing to write into
  std::wstring folder_;
  RunLogLines& log_;
  OutcomeSink* outcomes_;
  std::unique_ptr<HeldFolder> held_;
  bool madeAhead_ = false;  // by CreateAhead, until the download names it or the cycle ends
};

// The line and the event for a folder that is not the service's; the line is one failure line.
void MeldeUnsicherenOrdner(RunLogLines& log, OutcomeSink* outcomes, const std::wstring& folder,
                           const std::wstring& why);
