#include "Models/AppPoolRecycler.h"

#include <algorithm>

#include "core/AppcmdXml.h"
#include "core/CaughtError.h"
#include "core/Exception.h"
#include "core/SiteCommands.h"
#include "platform/Clock.h"

namespace {
constexpr unsigned kReadWaitMs = 60000;
constexpr wchar_t kPoolShutdownLimit[] = L"processModel.shutdownTimeLimit";
}  // namespace

AppPoolRecycler::AppPoolRecycler(CommandRunner* reader, Clock& clock, Hooks hooks)
    : reader_(reader), clock_(clock), hooks_(std::move(hooks)) {}

CommandOutput AppPoolRecycler::Read(const std::wstring& parameters) {
  if (reader_ == nullptr) throw Exception(L"appcmd kann nicht gelesen werden");
  CommandOutput output = reader_->Run(parameters, kReadWaitMs);
  if (output.exitCode != 0) {
    throw Exception(L"Der Befehl \"cmd.exe " + parameters + L"\" endete mit dem Code " +
                    std::to_wstring(output.exitCode));
  }
  return output;
}

// A pool whose name could break out of its quotes is not asked about: the decision refuses it.
PoolFinding AppPoolRecycler::Inspect(const std::wstring& pool, Pool& limits) {
  PoolFinding finding{pool, std::nullopt, std::nullopt};
  limits =
      Pool{pool, WorkerStartWaitSeconds(std::nullopt), WorkerStartWaitSeconds(std::nullopt), false};
  if (!IsSafeSiteName(pool)) return finding;
  try {
    finding.started = ParsePoolStarted(Read(PoolAttributeCommand(pool, kPoolState)).text);
    limits.started = finding.started.value_or(false);
    finding.overlapDisallowed =
        ParseAppcmdBool(Read(PoolAttributeCommand(pool, kPoolOverlapDisallowed)).text);
    limits.startLimitSeconds = WorkerStartWaitSeconds(
        ParseTimeSpanSeconds(Read(PoolAttributeCommand(pool, kPoolStartLimit)).text));
    limits.shutdownLimitSeconds = WorkerStartWaitSeconds(
        ParseTimeSpanSeconds(Read(PoolAttributeCommand(pool, kPoolShutdownLimit)).text));
  } catch (...) {
    // What could not be read stays unset, and the decision says so.
  }
  return finding;
}

ModeDecision AppPoolRecycler::Survey(SiteMode configured, const std::wstring& site,
                                     const std::wstring& configuredPool) {
  PoolSurvey survey;
  survey.site = site;
  pools_.clear();
  found_.clear();
  if (configured == SiteMode::Stop) return DecideSiteMode(configured, survey);
  std::vector<std::wstring> names;
  try {
    names = configuredPool.empty() ? ParseAppPoolsXml(Read(ListAppPoolsCommand(site)).bytes)
                                   : std::vector<std::wstring>{configuredPool};
  } catch (...) {
    survey.failure = CaughtErrorMessage();
  }
  for (const std::wstring& name : names) {
    Pool limits;
    survey.pools.push_back(Inspect(name, limits));
    found_.push_back(limits);
  }
  const ModeDecision decision = DecideSiteMode(configured, survey);
  if (decision.recycle) pools_ = names;
  return decision;
}

// Judged by appcmd's exit code alone: a pool without a worker (idle, or not yet asked) has nothing
// to show, and a new worker proves nothing before its first request loads the DLL. What runs is
// proven afterwards by the modules the host's processes map.
bool AppPoolRecycler::Recycle(const Pool& pool) {
  hooks_.log(L"Starte Anwendungspool neu: " + pool.name);
  std::wstring ursache;
  try {
    ursache = hooks_.execute(RecyclePoolCommand(pool.name));
  } catch (...) {
    ursache = CaughtErrorMessage();
  }
  if (ursache.empty()) {
    const std::uint32_t drain = pool.startLimitSeconds + pool.shutdownLimitSeconds;
    drainWaitSeconds_ = std::max(drainWaitSeconds_, drain);
    return true;
  }
  hooks_.fail(L"Fehler beim Neustarten des Anwendungspools: " + pool.name, ursache);
  return false;
}

bool AppPoolRecycler::RecycleAll() {
  for (const Pool& pool : found_) {
    if (std::find(pools_.begin(), pools_.end(), pool.name) == pools_.end()) continue;
    if (!Recycle(pool)) return false;
  }
  return true;
}

// A stopped pool has no worker that could hold anything. The pools a process names on its command
// line are not taken: any account can start a process that says it serves some pool.
bool AppPoolRecycler::RecycleRunning(const std::wstring& site, const std::wstring& configuredPool) {
  Survey(SiteMode::Recycle, site, configuredPool);
  std::vector<Pool> chosen;
  for (const Pool& pool : found_) {
    if (pool.started) chosen.push_back(pool);
  }
  if (chosen.empty()) {
    hooks_.fail(L"Fehler beim Neustarten des Anwendungspools: " + site,
                L"Kein laufender Anwendungspool der Site gefunden.");
    return false;
  }
  for (const Pool& pool : chosen) {
    if (!IsSafeSiteName(pool.name)) {
      hooks_.fail(L"Fehler beim Neustarten des Anwendungspools: " + pool.name,
                  L"Unzulässiger Name des Anwendungspools.");
      return false;
    }
    if (!Recycle(pool)) return false;
  }
  return true;
}
