#pragma once
// The rollout brake in the fleet simulator: the publisher's timestamp file, renewed every full
// hour and capped to 0 from the halt on; each host's hourly conditional fetch of it, at its own
// offset within the hour; and the decision of a window's cycle, which is the core's DecideRollout.
// The fleet (fleet_simulator.cpp) calls these at each host's tick and cycle.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ReleaseFiles.h"
#include "core/RolloutBrake.h"

struct BrakeSettings {
  std::vector<RampStep> ramp;
  std::int64_t publishedAt = 0;        // the release's "veroeffentlicht"
  std::optional<std::int64_t> haltAt;  // the first timestamp with cap 0; none: never halted
  int renewHours = 1;                  // the publisher renews the timestamp at each multiple
  int timestampMinutes = 60;           // the hosts' fetch interval
  std::int64_t runUntil = 0;           // the end of the simulated time
};

// What one host knows of the timestamp.
struct HostTimestamp {
  std::wstring identity;
  std::uint32_t offsetSeconds = 0;  // within the fetch interval, from HostOffsetSeconds
  std::int64_t nextFetch = 0;
  std::int64_t knownSequence = 0;  // 0: none fetched yet
  int cap = 100;
  std::int64_t sawHaltAt = -1;  // when it first fetched a cap of 0
};

// The publisher and the server's side of the timestamp file, with the server's count of requests
// from the publication on. Each renewal and the halt make a new file.
class TimestampService {
 public:
  TimestampService(const BrakeSettings& settings, const std::wstring& version);

  HostTimestamp ForHost(const std::wstring& identity, std::int64_t startedAt) const;

  // Whether the host's hourly fetch is due at a tick at `now`.
  bool FetchDue(const HostTimestamp& host, std::int64_t now) const { return now >= host.nextFetch; }

  // A conditional GET at `now`: 304 when the file is the one the host fetched last, else the
  // whole file, whose cap the host takes. hourly: the fetch of the hourly check (its next one is
  // planned); otherwise the version check of a window's cycle.
  void Fetch(HostTimestamp& host, std::int64_t now, bool hourly);

  // The window cycle's decision with the cap the host knows.
  RolloutDecision Decide(const HostTimestamp& host, std::int64_t now) const {
    return DecideRollout(host.identity, release_, host.cap, now);
  }

  const BrakeSettings& Settings() const { return settings_; }
  const ReleaseInfo& Release() const { return release_; }
  std::uint64_t NotModified() const { return notModified_; }
  std::uint64_t FullAnswers() const { return fullAnswers_; }
  const std::vector<int>& RequestsPerSecond() const { return perSecond_; }

 private:
  std::int64_t SequenceAt(std::int64_t now) const;
  int CapAt(std::int64_t now) const;

  BrakeSettings settings_;
  ReleaseInfo release_;
  std::uint64_t notModified_ = 0, fullAnswers_ = 0;
  std::vector<int> perSecond_;  // from the publication to runUntil
};

// One host's outcome, as the fleet hands it to the summary.
struct BrakeHostOutcome {
  std::wstring identity;
  std::int64_t updatedAt = -1;  // when the new version was installed; -1: never
  std::int64_t sawHaltAt = -1;
};

struct BrakeFigures {
  int hosts = 0;
  int reachedByRamp = 0;  // hosts below the ramp's percent at the halt (or at the end)
  int installedBeforeHalt = 0, installedBeforeSeenEverywhere = 0, installedAtAll = 0;
  int installedWithin24h = 0;
  int installedAfterSeeingHalt = 0;  // a host that installed once it had fetched cap 0
  int sawHalt = 0;
  std::optional<std::int64_t> secondsTo99, secondsToAll;  // from the halt
  int peakPerSecond = 0;
  double meanPerSecond = 0;
  std::uint64_t notModified = 0, fullAnswers = 0;
  double wallSeconds = 0;
};

BrakeFigures SummariseBrake(const TimestampService& service,
                            const std::vector<BrakeHostOutcome>& hosts);

// The runs of the scenario: as set, with the timestamp renewed less often, and without the halt.
struct BrakeRuns {
  BrakeSettings settings;
  BrakeFigures halted, rarelyRenewed, unhalted;
  int rareRenewHours = 0;
};

// The scenario's figures below its settings line, then its goals.
void PrintBrake(const BrakeRuns& runs);
