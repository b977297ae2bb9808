#include "fleet_brake.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "core/HostOffset.h"

namespace {

constexpr std::int64_t kHour = 3600;

std::string Clock(std::int64_t seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(seconds / kHour % 24),
                static_cast<int>(seconds / 60 % 60));
  return text;
}

std::string Minutes(const std::optional<std::int64_t>& seconds) {
  if (!seconds) return "not within the run";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f min", *seconds / 60.0);
  return text;
}

std::string RampText(const std::vector<RampStep>& ramp) {
  std::string text;
  for (const RampStep& step : ramp) {
    if (!text.empty()) text += ", ";
    text += std::to_string(step.hours) + " h " + std::to_string(step.percent) + " %";
  }
  return text;
}

}  // namespace

TimestampService::TimestampService(const BrakeSettings& settings, const std::wstring& version)
    : settings_(settings) {
  release_.version = version;
  release_.publishedUnix = settings.publishedAt;
  release_.ramp = settings.ramp;
  perSecond_.assign(static_cast<std::size_t>(settings.runUntil - settings.publishedAt), 0);
}

HostTimestamp TimestampService::ForHost(const std::wstring& identity,
                                        std::int64_t startedAt) const {
  HostTimestamp host;
  host.identity = identity;
  host.offsetSeconds = HostOffsetSeconds(identity, settings_.timestampMinutes);
  host.nextFetch = NextTimestampSlot(startedAt - 1, host.offsetSeconds, settings_.timestampMinutes * 60);
  return host;
}

std::int64_t TimestampService::SequenceAt(std::int64_t now) const {
  const std::int64_t period = settings_.renewHours * kHour;
  const bool haltInPeriod = settings_.haltAt && now >= *settings_.haltAt &&
                            *settings_.haltAt / period == now / period &&
                            *settings_.haltAt % period != 0;
  return 2 * (now / period) + (haltInPeriod ? 1 : 0) + 1;
}

int TimestampService::CapAt(std::int64_t now) const {
  return settings_.haltAt && now >= *settings_.haltAt ? 0 : 100;
}

void TimestampService::Fetch(HostTimestamp& host, std::int64_t now, bool hourly) {
  const bool counted = now >= settings_.publishedAt && now < settings_.runUntil;
  const std::int64_t sequence = SequenceAt(now);
  if (host.knownSequence == sequence) {
    if (counted) ++notModified_;
  } else {
    if (counted) ++fullAnswers_;
    host.knownSequence = sequence;
    host.cap = CapAt(now);
    if (host.cap == 0 && host.sawHaltAt < 0) host.sawHaltAt = now;
  }
  if (counted) ++perSecond_[now - settings_.publishedAt];
  if (hourly) {
    host.nextFetch = NextTimestampSlot(now, host.offsetSeconds, settings_.timestampMinutes * 60);
  }
}

BrakeFigures SummariseBrake(const TimestampService& service,
                            const std::vector<BrakeHostOutcome>& hosts) {
  const BrakeSettings& settings = service.Settings();
  const ReleaseInfo& release = service.Release();
  BrakeFigures f;
  f.hosts = static_cast<int>(hosts.size());
  const std::int64_t rampAt = settings.haltAt ? *settings.haltAt - 1 : settings.runUntil;
  const int percent = RampPercent(release.ramp, release.publishedUnix, rampAt);
  std::vector<std::int64_t> seen;
  for (const BrakeHostOutcome& h : hosts) {
    if (RolloutBucket(h.identity, release.version) < percent) ++f.reachedByRamp;
    if (h.sawHaltAt >= 0) seen.push_back(h.sawHaltAt);
  }
  std::sort(seen.begin(), seen.end());
  f.sawHalt = static_cast<int>(seen.size());
  const std::size_t needed = static_cast<std::size_t>(std::ceil(0.99 * f.hosts));
  if (settings.haltAt && needed > 0 && seen.size() >= needed) {
    f.secondsTo99 = seen[needed - 1] - *settings.haltAt;
  }
  if (settings.haltAt && f.sawHalt == f.hosts) f.secondsToAll = seen.back() - *settings.haltAt;
  for (const BrakeHostOutcome& h : hosts) {
    if (h.updatedAt < 0) continue;
    ++f.installedAtAll;
    if (h.updatedAt - settings.publishedAt <= 24 * kHour) ++f.installedWithin24h;
    if (settings.haltAt && h.updatedAt < *settings.haltAt) ++f.installedBeforeHalt;
    if (f.secondsToAll && h.updatedAt <= *settings.haltAt + *f.secondsToAll) {
      ++f.installedBeforeSeenEverywhere;
    }
    if (h.sawHaltAt >= 0 && h.updatedAt > h.sawHaltAt) ++f.installedAfterSeeingHalt;
  }
  const std::vector<int>& perSecond = service.RequestsPerSecond();
  double all = 0;
  for (int n : perSecond) all += n, f.peakPerSecond = std::max(f.peakPerSecond, n);
  f.meanPerSecond = perSecond.empty() ? 0 : all / static_cast<double>(perSecond.size());
  f.notModified = service.NotModified();
  f.fullAnswers = service.FullAnswers();
  return f;
}

void PrintBrake(const BrakeRuns& runs) {
  const BrakeSettings& settings = runs.settings;
  const BrakeFigures& halted = runs.halted;
  const std::int64_t haltAt = settings.haltAt.value_or(settings.publishedAt);
  const int runHours = static_cast<int>((settings.runUntil - settings.publishedAt) / kHour);
  std::printf("  release key set; ramp %s from the publication at %s\n",
              RampText(settings.ramp).c_str(), Clock(settings.publishedAt).c_str());
  std::printf(
      "  timestamp renewed every %d h; fetched every %d min at each host's offset (304 when\n"
      "  unchanged) and by each window's check, which alone installs\n",
      settings.renewHours, settings.timestampMinutes);
  std::printf("  halt (cap 0) at %s, hour %d: the ramp had reached %d hosts (bucket below it)\n",
              Clock(haltAt).c_str(), static_cast<int>((haltAt - settings.publishedAt) / kHour),
              halted.reachedByRamp);
  std::printf(
      "  installed before the halt: %d   before every host had seen it: %d   at all (%d h): %d\n",
      halted.installedBeforeHalt, halted.installedBeforeSeenEverywhere, runHours,
      halted.installedAtAll);
  std::printf("  saw the halt: %d of %d; 99 %% within %s, all within %s\n", halted.sawHalt,
              halted.hosts, Minutes(halted.secondsTo99).c_str(),
              Minutes(halted.secondsToAll).c_str());
  std::printf(
      "  timestamp requests, publication to %d h: peak %d/s, mean %.2f/s; 304: %llu, full: %llu\n",
      runHours, halted.peakPerSecond, halted.meanPerSecond,
      static_cast<unsigned long long>(halted.notModified),
      static_cast<unsigned long long>(halted.fullAnswers));
  std::printf(
      "  timestamp renewed every %d h instead: 304: %llu, full: %llu; 99 %% saw the halt"
      " within %s\n",
      runs.rareRenewHours, static_cast<unsigned long long>(runs.rarelyRenewed.notModified),
      static_cast<unsigned long long>(runs.rarelyRenewed.fullAnswers),
      Minutes(runs.rarelyRenewed.secondsTo99).c_str());
  std::printf("  without the halt: installed within 24 h: %d, at all (%d h): %d\n",
              runs.unhalted.installedWithin24h, runHours, runs.unhalted.installedAtAll);
  std::printf("  wall time: %.1f s, %.1f s, %.1f s (the three runs)\n", halted.wallSeconds,
              runs.rarelyRenewed.wallSeconds, runs.unhalted.wallSeconds);
  const auto goal = [](const char* text, bool met) {
    std::printf("  %-88s %s\n", text, met ? "met" : "NOT MET");
  };
  goal("brake: no host installs after it has fetched the halt",
       halted.installedAfterSeeingHalt == 0 && runs.rarelyRenewed.installedAfterSeeingHalt == 0);
  goal("brake: 99 % of hosts have seen the halt within one fetch interval and a tick",
       halted.secondsTo99 && *halted.secondsTo99 <= settings.timestampMinutes * 60 + 30);
}
