#include "Models/StopStartSwitch.h"

#include "Models/JournalFile.h"
#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "Models/SiteControl.h"

StopStartSwitch::StopStartSwitch(SiteControl& control, JournalFile& journal, RunLogLines& log,
                                 OutcomeSink* outcomes, std::wstring site, std::wstring pool)
    : control_(control),
      journal_(journal),
      log_(log),
      outcomes_(outcomes),
      site_(std::move(site)),
      pool_(std::move(pool)) {}

bool StopStartSwitch::BeforeSwaps() { return control_.Stop(site_, pool_); }

bool StopStartSwitch::AfterSwaps(bool) { return StartAndNote(SiteControl::kStartVersuche); }

void StopStartSwitch::BeforeRestore() {
  control_.Stop(site_, pool_);
  journal_.Note(JournalStep::Stopped);
}

// The site runs with what could be had, even before every copy is back.
bool StopStartSwitch::AfterRestore(bool) { return StartAndNote(SiteControl::kStartVersuche); }

bool StopStartSwitch::StartAndNote(int attempts) {
  if (!control_.Start(site_, pool_, attempts)) {
    log_.Log(kStartBleibtOffen);
    MeldeSiteBleibtAngehalten(outcomes_, site_, log_.Lines());
    return false;
  }
  journal_.Note(JournalStep::Started);
  return true;
}
