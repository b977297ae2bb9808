#include "core/OutcomeEvents.h"

namespace {

constexpr std::uint64_t kRepeatMs = 60 * 60 * 1000;

struct EventShape {
  std::uint32_t id;
  EventKind kind;
  std::size_t strings;
};

EventShape ShapeOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::UpdateInstalled:
      return {kEventUpdateInstalled, EventKind::Information, 3};
    case Outcome::RolledBackAfterStatusPage:
      return {kEventRolledBack, EventKind::Error, 2};
    case Outcome::ExchangeFailed:
      return {kEventExchangeFailed, EventKind::Error, 2};
    case Outcome::SiteLeftStopped:
      return {kEventSiteLeftStopped, EventKind::Error, 2};
    case Outcome::DownloadRefused:
      return {kEventDownloadRefused, EventKind::Warning, 1};
    case Outcome::VersionCheckFailed:
      return {kEventVersionCheckFailed, EventKind::Warning, 1};
    case Outcome::UnfinishedExchangeFinished:
      return {kEventUnfinishedExchangeFinished, EventKind::Warning, 1};
    case Outcome::JournalRefused:
      return {kEventJournalRefused, EventKind::Error, 2};
    case Outcome::FolderNotTrusted:
      return {kEventFolderNotTrusted, EventKind::Error, 2};
    case Outcome::SiteFolderNotTrusted:
      return {kEventSiteFolderNotTrusted, EventKind::Warning, 2};
    case Outcome::OldCodeStillRuns:
      return {kEventOldCodeStillRuns, EventKind::Error, 2};
    case Outcome::RejectedBuildRetried:
      return {kEventRejectedBuildRetried, EventKind::Information, 3};
    case Outcome::ReleaseRefused:
      return {kEventReleaseRefused, EventKind::Error, 1};
    case Outcome::ReleaseFrozen:
      return {kEventReleaseFrozen, EventKind::Warning, 2};
  }
  return {kEventJournalRefused, EventKind::Error, 2};
}

// online version, (path, old, new)..., downtime  ->  online version, target lines, downtime
std::vector<std::wstring> InstalledStrings(const std::vector<std::wstring>& details) {
  if (details.size() < 2) return details;
  const std::size_t downtime = details.size() - 1;
  std::wstring targets;
  for (std::size_t i = 1; i + 2 < downtime; i += 3) {
    if (!targets.empty()) targets += L"\r\n";
    targets += details[i] + L": " + details[i + 1] + L" -> " + details[i + 2];
  }
  return {details[0], targets, details[downtime]};
}

// The outcomes after which the site runs again.
bool SiteRunsAgain(Outcome outcome) {
  return outcome == Outcome::UpdateInstalled || outcome == Outcome::RolledBackAfterStatusPage ||
         outcome == Outcome::ExchangeFailed || outcome == Outcome::UnfinishedExchangeFinished;
}

}  // namespace

OutcomeEvent MakeOutcomeEvent(Outcome outcome, const std::vector<std::wstring>& details) {
  const EventShape shape = ShapeOf(outcome);
  OutcomeEvent event{shape.id, shape.kind,
                     outcome == Outcome::UpdateInstalled ? InstalledStrings(details) : details};
  event.strings.resize(shape.strings);
  return event;
}

OutcomeEvent RunLogFolderMissingEvent(const std::wstring& folder) {
  return {kEventRunLogFolderMissing, EventKind::Warning, {folder}};
}

bool RepeatThrottle::Admit(Outcome outcome, std::uint64_t nowMs) {
  Reported* state = outcome == Outcome::SiteLeftStopped    ? &siteStopped_
                    : outcome == Outcome::OldCodeStillRuns ? &notInEffect_
                                                           : nullptr;
  if (state == nullptr) {
    if (SiteRunsAgain(outcome)) siteStopped_ = notInEffect_ = {};
    return true;
  }
  if (state->once && nowMs - state->lastMs < kRepeatMs) return false;
  *state = {true, nowMs};
  return true;
}
