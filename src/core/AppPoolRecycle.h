#pragma once
// The overlapped recycle of a site's application pools: the appcmd command lines, the reading of
// appcmd's answers, and the decision whether a cycle may recycle or must stop and start the site.
//
// An overlapped recycle lets IIS start a new worker process, which maps the DLL now at the path,
// while the old one finishes what it holds; the site is never stopped. It is only safe when every
// pool that serves the site runs and allows overlapping; anything else stops and starts the site.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How the site takes up the new DLL ("IISMODUS").
enum class SiteMode { Stop, Recycle };

// "STOPP" or "RECYCLE" in any letter case, blanks around them ignored; any other value raises
// Exception, so a mistyped mode fails the start.
SiteMode ParseSiteMode(const std::wstring& text);

// Command lines for cmd.exe, names in double quotes, unescaped (they pass IsSafeSiteName first).
// The pools of a site are listed in appcmd's /xml form (see core/AppcmdXml.h), which keeps
// every letter of their names; the other answers are ASCII.
std::wstring ListAppPoolsCommand(const std::wstring& site);
std::wstring PoolAttributeCommand(const std::wstring& pool, const wchar_t* attribute);
std::wstring RecyclePoolCommand(const std::wstring& pool);

// The attributes read per pool.
inline constexpr wchar_t kPoolState[] = L"state";
inline constexpr wchar_t kPoolOverlapDisallowed[] = L"recycling.disallowOverlappingRotation";
inline constexpr wchar_t kPoolStartLimit[] = L"processModel.startupTimeLimit";

// `/text:state`: true for "Started", false for any other state; nullopt when it is no state.
std::optional<bool> ParsePoolStarted(const std::wstring& output);
// A Boolean attribute: "true" or "false"; nullopt otherwise.
std::optional<bool> ParseAppcmdBool(const std::wstring& output);
// A time span attribute ("[d.]hh:mm:ss[.fff]") in whole seconds; nullopt when it is none.
std::optional<std::uint32_t> ParseTimeSpanSeconds(const std::wstring& output);
// How long a recycle waits for a pool's new worker process: the pool's startupTimeLimit in
// seconds (60 when it could not be read), but never longer than 5 minutes, whatever the pool
// says: a limit of hours would hold the cycle, and the site's other pools, that long.
std::uint32_t WorkerStartWaitSeconds(std::optional<std::uint32_t> startupTimeLimit);

// What was found about one pool; an unset value could not be read.
struct PoolFinding {
  std::wstring name;
  std::optional<bool> started;
  std::optional<bool> overlapDisallowed;
};

// What was found about the site's pools before anything changed.
struct PoolSurvey {
  std::wstring site;
  std::wstring failure;  // why the pools could not be found; empty when they were
  std::vector<PoolFinding> pools;
};

struct ModeDecision {
  bool recycle = false;
  std::wstring reason;  // why the cycle stops and starts the site instead (configured RECYCLE)
};

// RECYCLE only when the pools were found, every name passes the name rule, and every pool is
// known to run and to allow overlapping; the first obstacle is the reason.
ModeDecision DecideSiteMode(SiteMode configured, const PoolSurvey& survey);

// The journal record, right after the plan, of an exchange that recycles instead of stopping:
// finishing it recycles the pools again rather than starting a site that never stopped.
std::string RecycleJournalPayload();
// Whether a journal's whole records hold that mark.
bool JournalMarksRecycle(const std::string& journalBytes);
