#include "core/RolloutBrake.h"

#include <algorithm>

#include "core/Sha256Digest.h"
#include "core/UnicodeDecoding.h"

int RolloutBucket(const std::wstring& machineIdentity, const std::wstring& version) {
  const Sha256Bytes digest = Sha256Digest(EncodeUtf8(machineIdentity + L"|" + version));
  std::uint64_t number = 0;
  for (int i = 0; i < 8; ++i) number = (number << 8) | digest[i];
  return static_cast<int>(number % 100);
}

int RampPercent(const std::vector<RampStep>& ramp, std::int64_t publishedUnix,
                std::int64_t nowUnix) {
  if (ramp.empty()) return 100;
  int percent = 0;
  for (const RampStep& step : ramp) {
    if (nowUnix - publishedUnix < static_cast<std::int64_t>(step.hours) * 3600) break;
    percent = step.percent;
  }
  return percent;
}

RolloutDecision DecideRollout(const std::wstring& machineIdentity, const ReleaseInfo& release,
                              int cap, std::int64_t nowUnix) {
  RolloutDecision decision;
  decision.bucket = RolloutBucket(machineIdentity, release.version);
  decision.percent = std::min(RampPercent(release.ramp, release.publishedUnix, nowUnix), cap);
  decision.halted = cap <= 0;
  decision.install = decision.bucket < decision.percent;
  return decision;
}

std::int64_t NextTimestampSlot(std::int64_t after, std::uint32_t offsetSeconds,
                               std::int64_t intervalSeconds) {
  const std::int64_t shifted = after - offsetSeconds;
  // Floor division, also for a time before the offset.
  std::int64_t slot = shifted / intervalSeconds;
  if (shifted < 0 && shifted % intervalSeconds != 0) --slot;
  return (slot + 1) * intervalSeconds + offsetSeconds;
}
