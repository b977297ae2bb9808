// A fleet of hosts on one update server, in virtual time: each host decides with the service's own
// rules (the planner with its window hours, offset, retries and a server's Retry-After; the
// download guard with its progress rule and limits; the update ring; with resume, the rule that
// lets a cut-off download go on from its partial file), and the server is one shared
// link that gives every transfer in flight an equal share of its bandwidth and, optionally, answers
// 503 with a Retry-After beyond a number of concurrent connections.
//
// Usage: fleet_simulator [hosts-scale]   (1 = the full scenarios; 0.1 for a quick look)
// Prints one block per scenario and a side-by-side table of the defaults without and with resume
// and the recommended fleet settings, then the rollout brake with the recommended settings
// (fleet_brake.cpp). Only the scenario "with resume" lets a cut-off transfer keep its bytes.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Services/CheckPlanner.h"
#include "core/DownloadGuard.h"
#include "core/HostOffset.h"
#include "core/ResumeRule.h"
#include "core/RetryPolicy.h"
#include "core/UpdateRing.h"
#include "fleet_brake.h"

namespace {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kTick = 30;               // the service's tick in normal operation
constexpr std::int64_t kPublishAt = 11 * kHour;  // day 0, 11:00 local
const std::wstring kNewVersion = L"2.1.0.1";
const std::wstring kDllUrl = L"https://update.test/KorvalAppServer.dll";
const std::wstring kDllEtag = L"\"2.1.0.1-1\"";  // the server's strong ETag of the DLL

struct Scenario {
  const char* name;
  int hosts = 1000;
  double megabitsPerSecond = 100;
  std::uint64_t dllBytes = 10'000'000;
  int streuung = 0;
  int wiederholungen = 0;
  int verzoegerung = 0;      // hours, for the hosts outside the canary group
  double canaryShare = 1.0;  // hosts that take a new version without delay
  std::vector<int> hours{0, 12};
  int connectionLimit = 0;      // 0: the server answers every request
  int retryAfterSeconds = 600;  // the server's Retry-After, spread by +-50 % per answer
  bool tenMinuteLimit = false;  // the download's former limit: 10 minutes in all, no progress rule
  bool resume = false;          // a cut-off transfer keeps its bytes; the server answers ranges
  std::optional<BrakeSettings> brake{};  // the release key set: signed files with a rollout brake
};

struct Figures {
  int updated24 = 0, updated48 = 0, abandoned = 0, refused = 0, peakTransfers = 0;
  int updatedInTwoWindows = 0;        // before the third window after the publication begins
  std::int64_t lastUpdateAfter = -1;  // seconds from the publication to the last update
  std::uint64_t bytesServed = 0, requests = 0, requestsBeforeRetryAfter = 0;
  double checkPeakToMean = 0, bytePeakToMean = 0;
  double longestTransferMinutes = 0;
  double wallSeconds = 0;
};

// The update server: one link, shared equally by the transfers in flight.
class SharedLink {
 public:
  SharedLink(const Scenario& s, std::mt19937_64& random) : scenario_(s), random_(random) {}

  // A request arrives; answers the status and, for a 503, the Retry-After header's text.
  std::pair<int, std::wstring> Answer(int transfersInFlight) {
    if (scenario_.connectionLimit == 0 || transfersInFlight < scenario_.connectionLimit) {
      return {200, L""};
    }
    const int base = scenario_.retryAfterSeconds;
    std::uniform_int_distribution<int> spread(base / 2, base + base / 2);
    return {503, std::to_wstring(spread(random_))};
  }
  double BytesPerSecond() const { return scenario_.megabitsPerSecond * 1e6 / 8; }

 private:
  const Scenario& scenario_;
  std::mt19937_64& random_;
};

struct Transfer {
  std::unique_ptr<DownloadGuard> guard;
  double bytes = 0;        // of the whole file, held ones included
  std::uint64_t from = 0;  // held from an earlier attempt
  std::int64_t started = 0;
};

struct Host {
  std::unique_ptr<CheckPlanner> planner;
  std::int64_t startedAt = 0;  // the service's start; ticks follow every 30 s
  std::wstring installed = L"2.1.0.0";
  std::optional<SeenVersion> seen;
  std::int64_t notBefore = 0;  // the server's Retry-After, as the host keeps it
  int ringHours = 0;
  std::optional<Transfer> transfer;
  PlannedTick cycle;  // the tick whose cycle runs
  std::int64_t updatedAt = -1;
  PartialRecord partial;    // what a cut-off transfer left, as the host keeps it
  HostTimestamp timestamp;  // with the rollout brake
};

DownloadLimits LimitsOf(const Scenario& s) {
  DownloadLimits limits;
  if (s.tenMinuteLimit) limits.progress = ProgressRule{0, 10 * 60 * 1000, 10 * 60 * 1000};
  return limits;
}

class Fleet {
 public:
  explicit Fleet(const Scenario& s) : s_(s), random_(20250605), link_(s, random_) {
    if (s.brake) brake_.emplace(*s.brake, kNewVersion);
    std::uniform_int_distribution<std::int64_t> start(0, kPublishAt - 1);
    std::uniform_real_distribution<double> draw(0, 1);
    hosts_.resize(s.hosts);
    for (int i = 0; i < s.hosts; ++i) {
      Host& h = hosts_[i];
      PlannerSettings settings;
      const std::wstring identity = L"b7e3c1a0-" + std::to_wstring(1000003 * i + 17);
      settings.windows = {s.hours, HostOffsetSeconds(identity, s.streuung)};
      settings.retries = s.wiederholungen;
      h.planner = std::make_unique<CheckPlanner>(settings);
      h.startedAt = start(random_);
      h.ringHours = draw(random_) < s.canaryShare ? 0 : s.verzoegerung;
      if (brake_) h.timestamp = brake_->ForHost(identity, h.startedAt);
    }
  }

  Figures Run(std::int64_t until) {
    const std::int64_t firstWindow = FirstWindowAfterPublication();
    const int spanMinutes = std::max(60, s_.streuung);
    checksPerMinute_.assign(spanMinutes, 0);
    firstWindow_ = firstWindow;
    // Hosts by the second of their tick within 30 s: each second visits only its own.
    std::vector<std::vector<int>> byPhase(kTick);
    for (int i = 0; i < static_cast<int>(hosts_.size()); ++i) {
      byPhase[hosts_[i].startedAt % kTick].push_back(i);
    }
    for (std::int64_t now = 0; now < until; ++now) {
      for (int i : byPhase[now % kTick]) {
        Host& h = hosts_[i];
        if (!h.transfer && now > h.startedAt) Tick(h, i, now);
      }
      MoveBytes(now);
    }
    Summarise(spanMinutes);
    return f_;
  }

  const TimestampService& Brake() const { return *brake_; }

  std::vector<BrakeHostOutcome> BrakeOutcomes() const {
    std::vector<BrakeHostOutcome> outcomes;
    for (const Host& h : hosts_) {
      outcomes.push_back({h.timestamp.identity, h.updatedAt, h.timestamp.sawHaltAt});
    }
    return outcomes;
  }

 private:
  std::int64_t FirstWindowAfterPublication() const {
    for (std::int64_t t = kPublishAt;; t += kHour) {
      const int hour = static_cast<int>(t / kHour % 24);
      if (std::binary_search(s_.hours.begin(), s_.hours.end(), hour)) return t;
    }
  }

  // A request to the server; counts one made before the Retry-After this host was given.
  std::pair<int, std::wstring> Request(Host& h, std::int64_t now) {
    ++f_.requests;
    if (now < h.notBefore) ++f_.requestsBeforeRetryAfter;
    std::pair<int, std::wstring> answer = link_.Answer(inFlight_);
    if (answer.first != 200) {
      ++f_.refused;
      if (IsComeBackLaterStatus(answer.first)) {
        if (auto until = RetryAfterUntil(answer.second, now)) h.notBefore = *until;
      }
    }
    return answer;
  }

  void Tick(Host& h, int index, std::int64_t now) {
    const PlannedTick tick = h.planner->OnTick(now, h.notBefore);
    if (!tick.runCycle) return HourlyTimestampCheck(h, now);
    h.cycle = tick;
    const std::int64_t minute = (now - firstWindow_) / 60;
    if (minute >= 0 && minute < static_cast<std::int64_t>(checksPerMinute_.size())) {
      ++checksPerMinute_[minute];
    }
    if (Request(h, now).first != 200) return EndCycle(h, now, true);  // the version check
    // With the release key set the version check fetches the timestamp; it stands for the
    // hourly fetch when that is due too.
    if (brake_) brake_->Fetch(h.timestamp, now, brake_->FetchDue(h.timestamp, now));
    if (now < kPublishAt || h.installed == kNewVersion) return EndCycle(h, now, false);
    const RingDecision ring = DecideRing(h.seen, kNewVersion, now, h.ringHours);
    h.seen = ring.record;
    if (!ring.install) return EndCycle(h, now, false);
    if (brake_ && !brake_->Decide(h.timestamp, now).install) return EndCycle(h, now, false);
    if (Request(h, now).first != 200) return EndCycle(h, now, true);
    Transfer t;
    t.guard = std::make_unique<DownloadGuard>(kDllUrl, LimitsOf(s_), now * 1000);
    t.started = now;
    t.from = ResumeFrom(h);
    t.bytes = static_cast<double>(t.from);
    t.guard->CountHeld(t.from);
    h.transfer = std::move(t);
    active_.push_back(index);
    ++inFlight_;
    f_.peakTransfers = std::max(f_.peakTransfers, inFlight_);
  }

  // Where a new transfer starts: the rule decides whether the partial file is asked for, and
  // judges the server's 206, which carries exactly the rest.
  std::uint64_t ResumeFrom(const Host& h) const {
    if (!s_.resume || !MayResume(h.partial, kDllUrl, 0)) return 0;
    const std::uint64_t held = h.partial.held;
    const std::wstring range = L"bytes " + std::to_wstring(held) + L"-" +
                               std::to_wstring(s_.dllBytes - 1) + L"/" +
                               std::to_wstring(s_.dllBytes);
    return JudgeRangeAnswer(held, h.partial.total, 206, range) == RangeAnswer::Continue ? held : 0;
  }

  // After a transfer: what a cut-off one leaves for the next, when the rule finds it worth it.
  void KeepPartial(Host& h, const Transfer& t, bool whole) const {
    h.partial = PartialRecord{};
    if (!s_.resume || whole) return;
    const PartialRecord left{kDllUrl, kDllEtag, s_.dllBytes, static_cast<std::uint64_t>(t.bytes)};
    if (WorthKeeping(left)) h.partial = left;
  }

  // Between the windows: the timestamp's hourly fetch, which only learns the cap.
  void HourlyTimestampCheck(Host& h, std::int64_t now) {
    if (!brake_ || !brake_->FetchDue(h.timestamp, now) || now < h.notBefore) return;
    if (Request(h, now).first == 200) brake_->Fetch(h.timestamp, now, true);
  }

  void EndCycle(Host& h, std::int64_t now, bool passingFailure) {
    h.planner->OnCycleEnd(h.cycle, passingFailure, now, h.notBefore, random_());
  }

  // One second of the link: every transfer in flight gets an equal share.
  void MoveBytes(std::int64_t now) {
    if (inFlight_ == 0) return;
    const double share = link_.BytesPerSecond() / inFlight_;
    const std::int64_t minute = now / 60;
    if (bytesPerMinute_.size() <= static_cast<std::size_t>(minute)) {
      bytesPerMinute_.resize(minute + 1, 0);
    }
    std::vector<int> stillActive;
    stillActive.reserve(active_.size());
    for (int index : active_) {
      Host& h = hosts_[index];
      Transfer& t = *h.transfer;
      const double before = t.bytes;
      t.bytes = std::min<double>(static_cast<double>(s_.dllBytes), t.bytes + share);
      f_.bytesServed += static_cast<std::uint64_t>(t.bytes - before);
      bytesPerMinute_[minute] += t.bytes - before;
      const std::uint64_t ms = static_cast<std::uint64_t>(now + 1) * 1000;
      const bool whole = t.bytes >= static_cast<double>(s_.dllBytes);
      // The guard sees this attempt's bytes; the held ones it counts itself.
      const std::uint64_t rest = s_.dllBytes - t.from;
      const std::optional<std::wstring> reason =
          whole ? t.guard->OnFinished(rest, ms)
                : t.guard->OnProgress(static_cast<std::uint64_t>(t.bytes) - t.from, rest, ms);
      if (!reason && !whole) {
        stillActive.push_back(index);
        continue;
      }
      f_.longestTransferMinutes =
          std::max(f_.longestTransferMinutes, static_cast<double>(now + 1 - t.started) / 60);
      KeepPartial(h, t, whole && !reason);
      h.transfer.reset();
      --inFlight_;
      if (reason) {
        ++f_.abandoned;
      } else {
        h.installed = kNewVersion;
        h.updatedAt = now + 1;
      }
      EndCycle(h, now + 1, reason.has_value());
    }
    active_.swap(stillActive);
  }

  // When the third window after the publication begins.
  std::int64_t ThirdWindow() const {
    int windows = 0;
    for (std::int64_t t = kPublishAt;; t += kHour) {
      const int hour = static_cast<int>(t / kHour % 24);
      if (std::binary_search(s_.hours.begin(), s_.hours.end(), hour) && ++windows == 3) return t;
    }
  }

  void Summarise(int spanMinutes) {
    const std::int64_t thirdWindow = ThirdWindow();
    for (const Host& h : hosts_) {
      if (h.updatedAt >= 0 && h.updatedAt - kPublishAt <= 24 * kHour) ++f_.updated24;
      if (h.updatedAt >= 0 && h.updatedAt - kPublishAt <= 48 * kHour) ++f_.updated48;
      if (h.updatedAt >= 0 && h.updatedAt < thirdWindow) ++f_.updatedInTwoWindows;
      if (h.updatedAt >= 0)
        f_.lastUpdateAfter = std::max(f_.lastUpdateAfter, h.updatedAt - kPublishAt);
    }
    double checks = 0, peakChecks = 0;
    for (int c : checksPerMinute_) checks += c, peakChecks = std::max<double>(peakChecks, c);
    f_.checkPeakToMean = checks > 0 ? peakChecks / (checks / spanMinutes) : 0;
    double bytes = 0, peakBytes = 0;
    const std::int64_t first = firstWindow_ / 60;
    for (std::int64_t m = first; m < first + spanMinutes; ++m) {
      const double b =
          m < static_cast<std::int64_t>(bytesPerMinute_.size()) ? bytesPerMinute_[m] : 0;
      bytes += b, peakBytes = std::max(peakBytes, b);
    }
    f_.bytePeakToMean = bytes > 0 ? peakBytes / (bytes / spanMinutes) : 0;
  }

  const Scenario& s_;
  std::mt19937_64 random_;
  SharedLink link_;
  std::optional<TimestampService> brake_;
  std::vector<Host> hosts_;
  std::vector<int> active_;  // hosts with a transfer in flight
  int inFlight_ = 0;
  std::int64_t firstWindow_ = 0;
  std::vector<int> checksPerMinute_;
  std::vector<double> bytesPerMinute_;
  Figures f_;
};

Figures Simulate(const Scenario& s) {
  const auto begin = std::chrono::steady_clock::now();
  const bool ring = s.verzoegerung > 0 && s.canaryShare < 1.0;
  Figures f = Fleet(s).Run(kPublishAt + (ring ? 49 : 25) * kHour);
  f.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  return f;
}

std::string ClockText(std::int64_t seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(seconds / kHour % 24),
                static_cast<int>(seconds / 60 % 60));
  return text;
}

void PrintSettings(const Scenario& s) {
  std::printf("\n%s\n", s.name);
  std::printf(
      "  %d hosts x %.0f MB on %.0f Mbit/s; STREUUNG=%d WIEDERHOLUNGEN=%d VERZOEGERUNG=%d"
      " (canaries %.0f %%), %zu window(s) a day, connection limit %d\n",
      s.hosts, s.dllBytes / 1e6, s.megabitsPerSecond, s.streuung, s.wiederholungen, s.verzoegerung,
      s.canaryShare * 100, s.hours.size(), s.connectionLimit);
}

void Print(const Scenario& s, const Figures& f) {
  PrintSettings(s);
  std::printf("  updated within 24 h: %d of %d (48 h: %d)   downloads abandoned: %d\n", f.updated24,
              s.hosts, f.updated48, f.abandoned);
  std::printf("  updated within two windows: %d of %d", f.updatedInTwoWindows, s.hosts);
  if (f.lastUpdateAfter >= 0) {
    std::printf("   the last at %s, %.1f h after the publication",
                ClockText(kPublishAt + f.lastUpdateAfter).c_str(), f.lastUpdateAfter / 3600.0);
  }
  std::printf("\n");
  std::printf("  peak concurrent transfers: %d   longest transfer: %.0f min\n", f.peakTransfers,
              f.longestTransferMinutes);
  std::printf(
      "  busiest minute / mean minute of the first window (%d min): checks %.2f, bytes %.2f\n",
      std::max(60, s.streuung), f.checkPeakToMean, f.bytePeakToMean);
  std::printf("  bytes served: %.2f GB   requests: %llu (503: %d)   before a Retry-After: %llu\n",
              f.bytesServed / 1e9, static_cast<unsigned long long>(f.requests), f.refused,
              static_cast<unsigned long long>(f.requestsBeforeRetryAfter));
  std::printf("  wall time: %.1f s\n", f.wallSeconds);
}

// Scenarios, by name: the former limit, the defaults (without and with resume), each new setting
// alone, the recommended.
std::vector<Scenario> Scenarios(double scale) {
  auto n = [scale](int hosts) { return std::max(1, static_cast<int>(hosts * scale)); };
  Scenario former{"Former 10-minute limit, 1,000 hosts on 100 Mbit/s (the cliff)"};
  former.hosts = n(1000), former.tenMinuteLimit = true;
  Scenario former750 = former;
  former750.name = "Former 10-minute limit, 750 hosts on 100 Mbit/s";
  former750.hosts = n(750);
  Scenario former1g = former;
  former1g.name = "Former 10-minute limit, 10,000 hosts on 1 Gbit/s";
  former1g.hosts = n(10000), former1g.megabitsPerSecond = 1000;
  Scenario defaults{"Defaults (progress rule), 1,000 hosts on 100 Mbit/s"};
  defaults.hosts = n(1000);
  Scenario crowd{"Defaults, 10,000 hosts on 100 Mbit/s"};
  crowd.hosts = n(10000);
  Scenario resumed = crowd;
  resumed.name = "Defaults with resume, 10,000 hosts on 100 Mbit/s";
  resumed.resume = true;
  Scenario spread = crowd;
  spread.name = "STREUUNG=60 alone, 10,000 hosts on 100 Mbit/s";
  spread.streuung = 60;
  Scenario retries = crowd;
  retries.name = "WIEDERHOLUNGEN=4 alone, server limited to 2,000 connections (503 + Retry-After)";
  retries.wiederholungen = 4, retries.connectionLimit = 2000;
  Scenario limited = retries;
  limited.name = "Defaults, server limited to 2,000 connections (503 + Retry-After)";
  limited.wiederholungen = 0;
  Scenario ring = crowd;
  ring.name = "VERZOEGERUNG=24 alone for 90 % of hosts (10 % canaries)";
  ring.verzoegerung = 24, ring.canaryShare = 0.1;
  Scenario hours = crowd;
  hours.name = "ZEITFENSTER=2 alone";
  hours.hours = {2};
  Scenario recommended = crowd;
  recommended.name = "Recommended: STREUUNG=120 WIEDERHOLUNGEN=4, server limited to 2,000";
  recommended.streuung = 120, recommended.wiederholungen = 4, recommended.connectionLimit = 2000;
  return {former, former750, former1g, defaults, crowd, resumed,
          spread, limited,   retries,  ring,     hours, recommended};
}

void Goal(const char* text, bool met) {
  std::printf("  %-88s %s\n", text, met ? "met" : "NOT MET");
}

void PrintGoals(const std::vector<std::pair<Scenario, Figures>>& r) {
  auto all = [](const std::pair<Scenario, Figures>& x) {
    return x.second.updated24 == x.first.hosts && x.second.abandoned == 0;
  };
  std::printf("\nGoals\n");
  Goal("former limit: 1,000 hosts on 100 Mbit/s and 10,000 on 1 Gbit/s finish 0, 750 all",
       r[0].second.updated24 == 0 && r[2].second.updated24 == 0 && all(r[1]));
  Goal("defaults: 1,000 hosts on 100 Mbit/s all updated, none abandoned", all(r[3]));
  Goal("defaults with resume: 10,000 hosts on 100 Mbit/s all updated within two windows",
       r[5].second.updatedInTwoWindows == r[5].first.hosts);
  Goal("STREUUNG=60: 10,000 hosts on 100 Mbit/s all updated, none abandoned", all(r[6]));
  Goal("STREUUNG=60: busiest minute of the checks at most 1.5 x the window's mean",
       r[6].second.checkPeakToMean <= 1.5);
  Goal("recommended settings: all updated within 24 h, none abandoned", all(r.back()));
  bool honoured = true, quick = true;
  for (const auto& x : r) {
    honoured = honoured && x.second.requestsBeforeRetryAfter == 0;
    quick = quick && x.second.wallSeconds < 60;
  }
  Goal("no scenario makes a request before a server's Retry-After has passed", honoured);
  Goal("every scenario (10,000 hosts x 10 MB) simulates within a minute of wall time", quick);
}

void PrintSideBySide(const Figures& today, const Figures& resumed, const Figures& best) {
  std::printf("\n%-46s %14s %14s %14s\n", "10,000 hosts x 10 MB on 100 Mbit/s", "defaults",
              "with resume", "recommended");
  const auto row = [](const char* name, double a, double b, double c, const char* format) {
    std::printf("%-46s ", name);
    std::printf(format, a);
    std::printf(" ");
    std::printf(format, b);
    std::printf(" ");
    std::printf(format, c);
    std::printf("\n");
  };
  row("updated within 24 h", today.updated24, resumed.updated24, best.updated24, "%14.0f");
  row("updated within two windows", today.updatedInTwoWindows, resumed.updatedInTwoWindows,
      best.updatedInTwoWindows, "%14.0f");
  row("downloads abandoned", today.abandoned, resumed.abandoned, best.abandoned, "%14.0f");
  row("peak concurrent transfers", today.peakTransfers, resumed.peakTransfers, best.peakTransfers,
      "%14.0f");
  row("busiest/mean minute of checks", today.checkPeakToMean, resumed.checkPeakToMean,
      best.checkPeakToMean, "%14.2f");
  row("busiest/mean minute of bytes", today.bytePeakToMean, resumed.bytePeakToMean,
      best.bytePeakToMean, "%14.2f");
  row("bytes served (GB)", today.bytesServed / 1e9, resumed.bytesServed / 1e9,
      best.bytesServed / 1e9, "%14.1f");
  row("requests before a Retry-After", static_cast<double>(today.requestsBeforeRetryAfter),
      static_cast<double>(resumed.requestsBeforeRetryAfter),
      static_cast<double>(best.requestsBeforeRetryAfter), "%14.0f");
}

BrakeFigures SimulateBrake(const Scenario& s) {
  const auto begin = std::chrono::steady_clock::now();
  Fleet fleet(s);
  fleet.Run(s.brake->runUntil);
  BrakeFigures f = SummariseBrake(fleet.Brake(), fleet.BrakeOutcomes());
  f.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  return f;
}

// The recommended settings with the release key set: a bad release halted at hour 2 on a
// 1-10-50-100 % ramp; the same with the timestamp renewed every 6 hours; and without the halt.
void RunBrakeScenario(const Scenario& recommended) {
  Scenario s = recommended;
  s.name = "Rollout brake: the recommended settings, a bad release halted at hour 2";
  BrakeRuns runs;
  runs.settings.ramp = {{0, 1}, {4, 10}, {24, 50}, {48, 100}};
  runs.settings.publishedAt = kPublishAt;
  runs.settings.haltAt = kPublishAt + 2 * kHour;
  runs.settings.runUntil = kPublishAt + 52 * kHour;  // past the window after the ramp's 100 %
  s.brake = runs.settings;
  runs.halted = SimulateBrake(s);
  runs.rareRenewHours = 6;
  s.brake->renewHours = runs.rareRenewHours;
  runs.rarelyRenewed = SimulateBrake(s);
  s.brake = runs.settings;
  s.brake->haltAt.reset();
  runs.unhalted = SimulateBrake(s);
  PrintSettings(s);
  PrintBrake(runs);
}

// The same fleet with patches instead of the whole DLL: a release patch of 15 % and a hotfix
// patch of 2.4 % of the 10 MB DLL, as bench/patch_bench measures them.
void RunPatchScenario(const Scenario& base) {
  std::printf("\nPatches: %s\n", base.name);
  std::printf("%-34s %14s %14s %14s\n", "", "whole DLL", "release patch", "hotfix patch");
  Figures f[3];
  const double shares[3] = {1.0, 0.1493, 0.0238};
  for (int i = 0; i < 3; ++i) {
    Scenario s = base;
    s.dllBytes = static_cast<std::uint64_t>(base.dllBytes * shares[i]);
    f[i] = Simulate(s);
  }
  std::printf("%-34s %14d %14d %14d\n", "updated within 24 h", f[0].updated24, f[1].updated24,
              f[2].updated24);
  std::printf("%-34s %14d %14d %14d\n", "updated within two windows", f[0].updatedInTwoWindows,
              f[1].updatedInTwoWindows, f[2].updatedInTwoWindows);
  std::printf("%-34s %14.1f %14.1f %14.1f\n", "bytes served (GB)", f[0].bytesServed / 1e9,
              f[1].bytesServed / 1e9, f[2].bytesServed / 1e9);
  std::printf("%-34s %14.0f %14.0f %14.0f\n", "longest transfer (min)",
              f[0].longestTransferMinutes, f[1].longestTransferMinutes,
              f[2].longestTransferMinutes);
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  std::vector<std::pair<Scenario, Figures>> results;
  for (const Scenario& s : Scenarios(scale)) {
    results.emplace_back(s, Simulate(s));
    Print(results.back().first, results.back().second);
  }
  PrintSideBySide(results[4].second, results[5].second, results.back().second);
  if (scale == 1.0) PrintGoals(results);
  RunBrakeScenario(results.back().first);
  RunPatchScenario(results[4].first);
  return 0;
}
