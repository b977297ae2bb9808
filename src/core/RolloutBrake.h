#pragma once
// The rollout brake: each host has a stable place (0 to 99) in the ramp of a version, and installs
// once the ramp's percent at this hour and the timestamp's cap both lie above it. The service,
// the command line and the fleet simulator decide with these functions.

#include <cstdint>
#include <string>
#include <vector>

#include "core/ReleaseFiles.h"

// 0 to 99: the SHA-256 of the UTF-8 bytes of "<identity>|<version>", its first eight bytes as a
// big-endian number, modulo 100. Another version gives the host another place.
int RolloutBucket(const std::wstring& machineIdentity, const std::wstring& version);

// The ramp's percent at nowUnix: the percent of the last step whose hour has come; 0 before the
// first step (and before publication); 100 for an empty ramp.
int RampPercent(const std::vector<RampStep>& ramp, std::int64_t publishedUnix,
                std::int64_t nowUnix);

struct RolloutDecision {
  bool install = false;
  int percent = 0;  // the smaller of the ramp's percent and the cap
  int bucket = 0;
  bool halted = false;  // the cap is 0
};

// The hosts fetch the timestamp every intervalSeconds at their own offset within it: the first
// time k * intervalSeconds + offsetSeconds that lies after `after`.
std::int64_t NextTimestampSlot(std::int64_t after, std::uint32_t offsetSeconds,
                               std::int64_t intervalSeconds);

RolloutDecision DecideRollout(const std::wstring& machineIdentity, const ReleaseInfo& release,
                              int cap, std::int64_t nowUnix);
