#pragma once
// The site's application pools for an update without a stop: finds them while the site runs,
// decides whether this cycle may recycle them and recycles each (overlapped: IIS starts a new
// worker, which maps the DLL now at the path, when the pool has one or at its next request).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/AppPoolRecycle.h"
#include "platform/CommandRunner.h"

class Clock;

class AppPoolRecycler {
 public:
  struct Hooks {
    // Writes a run-log line.
    std::function<void(const std::wstring&)> log;
    // Writes a failure line and its reason.
    std::function<void(const std::wstring&, const std::wstring&)> fail;
    // Launches a command that changes the site, waits and answers why it failed (empty: done).
    std::function<std::wstring(const std::wstring&)> execute;
  };

  AppPoolRecycler(CommandRunner* reader, Clock& clock, Hooks hooks);

  // Finds the pools (the configured one, or every pool of the site's applications) and reads
  // each one's state, overlap setting and start limit; then decides. Raises nothing.
  ModeDecision Survey(SiteMode configured, const std::wstring& site,
                      const std::wstring& configuredPool);
  const std::vector<std::wstring>& Pools() const { return pools_; }

  // Recycles every pool found by Survey, one after the other, each judged by appcmd's exit code.
  // Stops at the first failure (logged).
  bool RecycleAll();
  // After a site start that left old workers running: finds the site's pools as Survey does and
  // recycles every one that runs. A pool that cannot be recycled, or none at all, fails (logged).
  bool RecycleRunning(const std::wstring& site, const std::wstring& configuredPool);
  // How long the old workers of the pools recycled so far may take to end: the longest start
  // limit plus shutdown limit of a pool, each at most 5 minutes.
  unsigned DrainWaitMs() const { return drainWaitSeconds_ * 1000u; }

 private:
  struct Pool {
    std::wstring name;
    // Its start and shutdown limits (each capped by WorkerStartWaitSeconds).
    std::uint32_t startLimitSeconds = 0;
    std::uint32_t shutdownLimitSeconds = 0;
    bool started = false;
  };
  CommandOutput Read(const std::wstring& parameters);
  PoolFinding Inspect(const std::wstring& pool, Pool& limits);
  bool Recycle(const Pool& pool);

  CommandRunner* reader_;
  Clock& clock_;
  Hooks hooks_;
  std::vector<std::wstring> pools_;
  std::vector<Pool> found_;
  std::uint32_t drainWaitSeconds_ = 0;
};
