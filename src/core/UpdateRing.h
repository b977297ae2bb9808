#pragma once
// The update ring: a host installs a newly published version only once it has seen that version
// published for a configured number of hours, so that a canary group can take it first.

#include <cstdint>
#include <optional>
#include <string>

// The version this host last saw published, and when it first saw it (Unix seconds).
struct SeenVersion {
  std::wstring version;
  std::int64_t firstSeenUnix = 0;
  bool operator==(const SeenVersion&) const = default;
};

struct RingDecision {
  bool install = false;          // the version may be installed now
  std::int64_t installFrom = 0;  // Unix seconds from which it may
  SeenVersion record;            // what to keep for the next check
};

// A different version than the one recorded (or none recorded) starts its clock now; so does a
// record whose first sighting lies in the future (a clock set back, or a planted record). With
// delayHours 0 or less every version installs at once.
RingDecision DecideRing(const std::optional<SeenVersion>& recorded, const std::wstring& published,
                        std::int64_t nowUnix, int delayHours);
