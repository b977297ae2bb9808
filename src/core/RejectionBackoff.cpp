#include "core/RejectionBackoff.h"

#include <algorithm>

std::int64_t RejectionWaitSeconds(int failures) {
  // From the fourth failure on the doubling is past the week: no shift can overflow.
  const int doublings = std::clamp(failures, 1, 4) - 1;
  return std::min(kFirstRejectionWaitSeconds << doublings, kLongestRejectionWaitSeconds);
}

RejectionDecision DecideRejection(const ServiceRecords& records, const std::wstring& onlineVersion,
                                  std::int64_t nowUnix,
                                  bool (*isSameVersion)(const std::wstring&, const std::wstring&)) {
  RejectionDecision decision;
  if (records.rejectedVersion.empty() || onlineVersion.empty() ||
      !isSameVersion(records.rejectedVersion, onlineVersion)) {
    return decision;
  }
  const int failures = std::max(records.rejectedFailures, 1);
  std::int64_t since = records.rejectedAtUnix;
  if (since <= 0 || since > nowUnix) {
    since = nowUnix;
    decision.restamp = true;
  }
  decision.retryAtUnix = since + RejectionWaitSeconds(failures);
  decision.attempt = failures + 1;
  decision.verdict =
      nowUnix >= decision.retryAtUnix ? RejectionVerdict::Retry : RejectionVerdict::Wait;
  return decision;
}

bool IsRejectedBuild(const ServiceRecords& records, const std::string& sha256Hex) {
  return !records.rejectedVersion.empty() && records.rejectedSha256 == sha256Hex;
}

ServiceRecords WithFailedBuild(ServiceRecords records, const std::wstring& version,
                               const std::string& sha256Hex, RejectionCause cause,
                               std::int64_t nowUnix) {
  const bool sameBuild = records.rejectedVersion == version && IsRejectedBuild(records, sha256Hex);
  records.rejectedFailures =
      sameBuild ? std::min(std::max(records.rejectedFailures, 1) + 1, 1000) : 1;
  records.rejectedVersion = version;
  records.rejectedSha256 = sha256Hex;
  records.rejectedCause = cause;
  records.rejectedAtUnix = nowUnix;
  return records;
}
