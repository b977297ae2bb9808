#pragma once
// The outcomes of the update engine that an administrator alerts on, and what the status file
// records after a cycle.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ReleaseFiles.h"

enum class Outcome {
  UpdateInstalled,             // online version, then per target: path, old version, new version;
                               // last: the downtime in ms
  RolledBackAfterStatusPage,   // online version, the status page's finding
  ExchangeFailed,              // the target, the reason; the old set is kept
  SiteLeftStopped,             // the site, the reason
  DownloadRefused,             // the reason
  VersionCheckFailed,          // the reason
  UnfinishedExchangeFinished,  // what was kept: "alt" or "neu"
  JournalRefused,              // the reason, the name the journal was set aside as
  FolderNotTrusted,            // the download, run-log or metrics folder, the reason
  SiteFolderNotTrusted,        // the site folder, the reason
  OldCodeStillRuns,            // online version, the reason (a process still maps an old copy)
  RejectedBuildRetried,        // the version, the number of this try, why the build failed before
  ReleaseRefused,              // why the signed release files were refused or not had
  ReleaseFrozen,               // hours without a valid timestamp, the last release sequence known
};

// What the status file records at a service start and after every update cycle.
struct CycleSummary {
  bool atStart = false;               // a service start: no check ran, the last one's facts stay
  bool failed = false;                // some step logged a failure
  std::wstring onlineVersion;         // empty when the version could not be fetched
  std::vector<std::wstring> targets;  // the target DLLs' paths, in list order
  std::wstring runLogPath;            // the status file goes beside it
  std::wstring metricsPath;           // the textfile collector's file; empty: none
  bool runLogFolderTrusted = true;    // false: the status file beside the run log is not written
  int ringDelayHours = 0;             // VERZOEGERUNG
  bool rolledBack = false;            // a build that was taken back waits
  ReleaseFreshness release;           // with a release key
  // A download of a signed release in this cycle: the bytes a patch saved (0: the whole DLL).
  std::optional<std::uint64_t> patchSaved;
};
