#include "Models/AppPoolRecycler.h"

#include <algorithm>

#include "core/AppcmdXml.h"
#include "core/CaughtError.h"
#include "core/Exception.h"
#include "core/SiteCommands.h"
#include "platform/Clock.h"

namespace {
constexpr unsigned kReadWaitMs = 60000;
constexpr unsigned kWorkerPollMs = 500;
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
PoolFinding AppPoolRecycler::Inspect(const std::wstring& pool, std::uint32_t& startLimitSeconds) {
  PoolFinding finding{pool, std::nullopt, std::nullopt};
  startLimitSeconds = WorkerStartWaitSeconds(std::nullopt);
  if (!IsSafeSiteName(pool)) return finding;
  try {
    finding.started = ParsePoolStarted(Read(PoolAttributeCommand(pool, kPoolState)).text);
    finding.overlapDisallowed =
        ParseAppcmdBool(Read(PoolAttributeCommand(pool, kPoolOverlapDisallowed)).text);
    startLimitSeconds = WorkerStartWaitSeconds(
        ParseTimeSpanSeconds(Read(PoolAttributeCommand(pool, kPoolStartLimit)).text));
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
    std::uint32_t limit = 0;
    survey.pools.push_back(Inspect(name, limit));
    found_.push_back({name, limit});
  }
  const ModeDecision decision = DecideSiteMode(configured, survey);
  if (decision.recycle) pools_ = names;
  return decision;
}

std::vector<std::uint32_t> AppPoolRecycler::WorkerProcesses(const std::wstring& pool) {
  try {
    return ParseWorkerProcessIds(Read(ListWorkerProcessesCommand(pool)).text);
  } catch (...) {
    return {};
  }
}

bool AppPoolRecycler::Recycle(const Pool& pool) {
  const std::vector<std::uint32_t> before = WorkerProcesses(pool.name);
  hooks_.log(L"Starte Anwendungspool neu: " + pool.name);
  std::wstring ursache;
  try {
    ursache = hooks_.execute(RecyclePoolCommand(pool.name));
  } catch (...) {
    ursache = CaughtErrorMessage();
  }
  const std::uint64_t end = clock_.TickMilliseconds() + pool.startLimitSeconds * 1000ull;
  while (ursache.empty()) {
    for (std::uint32_t id : WorkerProcesses(pool.name)) {
      if (std::find(before.begin(), before.end(), id) != before.end()) continue;
      hooks_.log(L"Neuer Arbeitsprozess im Anwendungspool: " + pool.name);
      return true;
    }
    if (clock_.TickMilliseconds() >= end) {
      ursache = L"Nach " + std::to_wstring(pool.startLimitSeconds) +
                L" Sekunden zeigt der Anwendungspool keinen neuen Arbeitsprozess.";
      break;
    }
    clock_.Wait(kWorkerPollMs);
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
