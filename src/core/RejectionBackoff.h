#pragma once
// When a build that failed after it was tried (the status page, the load probe, the recycle) is
// tried again. A build is a version and the SHA-256 of its DLL: another build of the same version
// is new and is tried at once; the same build waits a day after its first failure, then two,
// four, and never longer than a week. Pure: the caller gives the time and keeps the record.

#include <cstdint>
#include <string>

#include "core/ServiceRecords.h"

inline constexpr std::int64_t kFirstRejectionWaitSeconds = 24 * 3600;
inline constexpr std::int64_t kLongestRejectionWaitSeconds = 7 * 24 * 3600;

// The wait after the n-th failure in a row (n >= 1; less counts as 1).
std::int64_t RejectionWaitSeconds(int failures);

enum class RejectionVerdict {
  None,   // no rejection of the published version (a rejection of another version is obsolete)
  Wait,   // the rejected build waits until retryAtUnix; another build of the version is tried
  Retry,  // the wait is over: the build is tried again, as try number `attempt`
};

struct RejectionDecision {
  RejectionVerdict verdict = RejectionVerdict::None;
  std::int64_t retryAtUnix = 0;
  int attempt = 0;  // the try the retry is: failures so far + 1
  // The record's time is unknown (an older service wrote it) or lies ahead of the clock: the
  // wait is counted from now, and the caller stores now as the failure's time.
  bool restamp = false;
  bool operator==(const RejectionDecision&) const = default;
};

// isSameVersion compares version texts as the version check does.
RejectionDecision DecideRejection(const ServiceRecords& records, const std::wstring& onlineVersion,
                                  std::int64_t nowUnix,
                                  bool (*isSameVersion)(const std::wstring&, const std::wstring&));

// Whether a downloaded DLL (its SHA-256 as 64 lower-case hex digits) is the rejected build.
bool IsRejectedBuild(const ServiceRecords& records, const std::string& sha256Hex);

// The records after this build failed at nowUnix: one failure more of the same build, or the
// first failure of another.
ServiceRecords WithFailedBuild(ServiceRecords records, const std::wstring& version,
                               const std::string& sha256Hex, RejectionCause cause,
                               std::int64_t nowUnix);
