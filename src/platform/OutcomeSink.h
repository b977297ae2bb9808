#pragma once
// The outcomes of the update engine that an administrator alerts on (installed, rolled back,
// refused, left stopped, ...), each with its details in a fixed order. The engine reports each
// outcome once, where it happens; what becomes of it (an event with a fixed ID, the status file)
// is the sink's business.

#include <string>
#include <vector>

enum class Outcome {
  UpdateInstalled,            // online version, then per target: path, old version, new version;
                              // last: the downtime in ms
  RolledBackAfterStatusPage,  // online version, the status page's finding
  ExchangeFailed,             // the target, the reason; the old set is kept
  SiteLeftStopped,            // the site, the reason
  DownloadRefused,            // the reason
  VersionCheckFailed,         // the reason
  UnfinishedExchangeFinished, // what was kept: "alt" or "neu"
  JournalRefused,             // the reason, the name the journal was set aside as
};

class OutcomeSink {
 public:
  virtual ~OutcomeSink() = default;
  // Never raises.
  virtual void Report(Outcome outcome, const std::vector<std::wstring>& details) noexcept = 0;
};
