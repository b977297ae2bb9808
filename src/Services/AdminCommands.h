#pragma once
// The check and the update an administrator or a script runs from the command line ("CHECK",
// "UPDATE"): the same engine and configuration as the service, with the outcome in the exit code.

#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"
#include "Services/UpdateCycle.h"

class ConsoleOutput;
class CycleLock;

// Exit codes of the two switches.
inline constexpr int kExitOk = 0;         // every copy current, or the update went through
inline constexpr int kExitFailed = 1;     // a step failed, the configuration did not load, or
                                          // another cycle held the lock too long
inline constexpr int kExitUpdateDue = 2;  // CHECK only: some copy is older than the online one

// How long UPDATE waits for a cycle that holds the lock (the service's own tick, or another
// UPDATE) before it gives up.
inline constexpr unsigned kUpdateLockWaitMs = 10 * 60 * 1000;

int CheckExitCode(bool updateDue, bool failed);
int UpdateExitCode(const UpdateCycleResult& result);

// What CHECK prints after the run-log lines of the check: the online version, every target read
// with its product version and how it compares, and the verdict.
std::vector<std::wstring> CheckReport(const std::wstring& onlineVersion,
                                      const std::vector<ZielBefund>& befunde,
                                      std::size_t targetCount, bool updateDue, bool failed);

// Loads the configuration as the service does and runs the version check, echoing every line to
// `out`. Writes nothing: the run log goes nowhere, and the engine gets no downloader, launcher or
// file system to write with. Returns the exit code.
int RunCheckCommand(EnginePlatform platform, ConsoleOutput& out);

// Runs one whole update cycle, as a tick in test mode does, while holding the cycle lock; writes
// the run log as the service does and echoes every line to `out`. Returns the exit code.
int RunUpdateCommand(EnginePlatform platform, CycleLock& lock, ConsoleOutput& out,
                     unsigned lockWaitMs = kUpdateLockWaitMs);
