#pragma once
// The event-log entries of the outcomes. Their event IDs and the order of their insertion
// strings are a contract with the administrators' alert rules (Event Forwarding, SCOM): never
// change or reuse one, only add new ones. The texts are in the message table
// (win32/resources/EventMessages.mc); the failures of the service itself keep event ID 0.

#include <cstdint>
#include <string>
#include <vector>

#include "core/Outcome.h"

enum class EventKind : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

inline constexpr std::uint32_t kEventUpdateInstalled = 1000;
inline constexpr std::uint32_t kEventRolledBack = 1001;
inline constexpr std::uint32_t kEventExchangeFailed = 1002;
inline constexpr std::uint32_t kEventSiteLeftStopped = 1003;
inline constexpr std::uint32_t kEventDownloadRefused = 1004;
inline constexpr std::uint32_t kEventVersionCheckFailed = 1005;
inline constexpr std::uint32_t kEventUnfinishedExchangeFinished = 1006;
inline constexpr std::uint32_t kEventJournalRefused = 1007;
inline constexpr std::uint32_t kEventRunLogFolderMissing = 1008;
inline constexpr std::uint32_t kEventFolderNotTrusted = 1009;
inline constexpr std::uint32_t kEventSiteFolderNotTrusted = 1010;
inline constexpr std::uint32_t kEventOldCodeStillRuns = 1011;
inline constexpr std::uint32_t kEventRejectedBuildRetried = 1015;
inline constexpr std::uint32_t kEventReleaseRefused = 1016;
inline constexpr std::uint32_t kEventReleaseFrozen = 1017;

struct OutcomeEvent {
  std::uint32_t id = 0;
  EventKind kind = EventKind::Error;
  std::vector<std::wstring> strings;  // the insertion strings %1, %2, ... in their fixed order
  bool operator==(const OutcomeEvent&) const = default;
};

// The entry for an outcome and its details (in the order OutcomeSink.h gives). Every entry of an
// ID has the same number of strings; missing details are empty. The targets of an installed
// update become one string, a line "path: old -> new" per target.
OutcomeEvent MakeOutcomeEvent(Outcome outcome, const std::vector<std::wstring>& details);

// The entry for a run-log folder that does not exist.
OutcomeEvent RunLogFolderMissingEvent(const std::wstring& folder);

// A lasting state is reported again at most once an hour: a site that stays stopped, and an
// update that is swapped but not in effect (an old copy stays mapped while every tick recycles and
// proves again). Any outcome that ends the state (the site runs a set again) lets the next one
// through at once.
class RepeatThrottle {
 public:
  // Whether `outcome`, at `nowMs` (a steady clock), is to be reported.
  bool Admit(Outcome outcome, std::uint64_t nowMs);

 private:
  struct Reported {
    bool once = false;
    std::uint64_t lastMs = 0;
  };
  Reported siteStopped_;
  Reported notInEffect_;
};
