#pragma once
// The site's application pools for an update without a stop: finds them while the site runs,
// decides whether this cycle may recycle them, recycles each and waits until it shows a new
// worker process (which has mapped the DLL now at the path).

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

  // Recycles every pool found by Survey, one after the other, each judged by its exit code and
  // then by a new worker process within its start limit (at most 5 minutes). Stops at the first
  // failure (logged).
  bool RecycleAll();

 private:
  struct Pool {
    std::wstring name;
    std::uint32_t startLimitSeconds;  // the wait for its new worker (WorkerStartWaitSeconds)
  };
  CommandOutput Read(const std::wstring& parameters);
  PoolFinding Inspect(const std::wstring& pool, std::uint32_t& startLimitSeconds);
  bool Recycle(const Pool& pool);
  std::vector<std::uint32_t> WorkerProcesses(const std::wstring& pool);

  CommandRunner* reader_;
  Clock& clock_;
  Hooks hooks_;
  std::vector<std::wstring> pools_;
  std::vector<Pool> found_;
};
