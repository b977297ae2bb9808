#include "core/AppPoolRecycle.h"

#include <algorithm>
#include <cwctype>

#include "core/Exception.h"
#include "core/ExchangeJournal.h"
#include "core/SiteCommands.h"

namespace {
const wchar_t kAppcmd[] = L"/c inetsrv\\appcmd ";

std::wstring Trim(const std::wstring& text) {
  const std::size_t begin = text.find_first_not_of(L" \t\r\n");
  if (begin == std::wstring::npos) return L"";
  return text.substr(begin, text.find_last_not_of(L" \t\r\n") - begin + 1);
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

std::vector<std::wstring> Lines(const std::wstring& output) {
  std::vector<std::wstring> lines;
  std::size_t begin = 0;
  while (begin <= output.size()) {
    std::size_t end = output.find(L'\n', begin);
    if (end == std::wstring::npos) end = output.size();
    const std::wstring line = Trim(output.substr(begin, end - begin));
    if (!line.empty()) lines.push_back(line);
    begin = end + 1;
  }
  return lines;
}

// A number of at most nine digits: the parts of a time span and of a process id.
std::optional<std::uint32_t> Digits(const std::wstring& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::uint32_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - L'0');
  }
  return value;
}

// appcmd's answer to /text:<attribute> is the value alone, on one line.
std::optional<std::wstring> SingleValue(const std::wstring& output) {
  const std::vector<std::wstring> lines = Lines(output);
  if (lines.size() != 1) return std::nullopt;
  return lines[0];
}

std::wstring Quoted(const std::wstring& name) { return L"\"" + name + L"\""; }
}  // namespace

SiteMode ParseSiteMode(const std::wstring& text) {
  const std::wstring mode = Upper(Trim(text));
  if (mode == L"STOPP") return SiteMode::Stop;
  if (mode == L"RECYCLE") return SiteMode::Recycle;
  throw Exception(L"'" + text + L"' ist kein gültiger Wert für IISMODUS (STOPP oder RECYCLE)");
}

std::wstring ListAppPoolsCommand(const std::wstring& site) {
  return kAppcmd + std::wstring(L"list app /site.name:") + Quoted(site) + L" /xml";
}

std::wstring PoolAttributeCommand(const std::wstring& pool, const wchar_t* attribute) {
  return kAppcmd + std::wstring(L"list apppool /apppool.name:") + Quoted(pool) + L" /text:" +
         attribute;
}

std::wstring RecyclePoolCommand(const std::wstring& pool) {
  return kAppcmd + std::wstring(L"recycle apppool /apppool.name:") + Quoted(pool);
}

std::optional<bool> ParsePoolStarted(const std::wstring& output) {
  const std::optional<std::wstring> value = SingleValue(output);
  if (!value) return std::nullopt;
  const std::wstring state = Upper(*value);
  if (state == L"STARTED") return true;
  if (state == L"STOPPED" || state == L"STOPPING" || state == L"STARTING" || state == L"UNKNOWN")
    return false;
  return std::nullopt;
}

std::optional<bool> ParseAppcmdBool(const std::wstring& output) {
  const std::optional<std::wstring> value = SingleValue(output);
  if (value && Upper(*value) == L"TRUE") return true;
  if (value && Upper(*value) == L"FALSE") return false;
  return std::nullopt;
}

std::optional<std::uint32_t> ParseTimeSpanSeconds(const std::wstring& output) {
  std::optional<std::wstring> value = SingleValue(output);
  if (!value) return std::nullopt;
  std::wstring text = *value;
  std::uint32_t days = 0;
  const std::size_t firstColon = text.find(L':');
  const std::size_t dayDot = text.find(L'.');
  if (dayDot != std::wstring::npos && dayDot < firstColon) {
    const std::optional<std::uint32_t> d = Digits(text.substr(0, dayDot));
    if (!d || *d > 10000) return std::nullopt;
    days = *d;
    text = text.substr(dayDot + 1);
  }
  const std::size_t fraction = text.find(L'.');
  if (fraction != std::wstring::npos) {
    if (!Digits(text.substr(fraction + 1))) return std::nullopt;
    text = text.substr(0, fraction);
  }
  if (text.size() != 8 || text[2] != L':' || text[5] != L':') return std::nullopt;
  const auto h = Digits(text.substr(0, 2)), m = Digits(text.substr(3, 2)),
             s = Digits(text.substr(6, 2));
  if (!h || !m || !s || *h > 23 || *m > 59 || *s > 59) return std::nullopt;
  return days * 86400 + *h * 3600 + *m * 60 + *s;
}

std::uint32_t WorkerStartWaitSeconds(std::optional<std::uint32_t> startupTimeLimit) {
  constexpr std::uint32_t kUnreadSeconds = 60;  // IIS's own default is 90 s
  constexpr std::uint32_t kLongestSeconds = 5 * 60;
  return std::min(startupTimeLimit.value_or(kUnreadSeconds), kLongestSeconds);
}

ModeDecision DecideSiteMode(SiteMode configured, const PoolSurvey& survey) {
  ModeDecision decision;
  if (configured == SiteMode::Stop) return decision;
  const std::wstring site = Quoted(survey.site);
  if (!survey.failure.empty()) {
    decision.reason = L"Die Anwendungspools der Site " + site +
                      L" konnten nicht ermittelt werden (" + survey.failure + L").";
    return decision;
  }
  if (survey.pools.empty()) {
    decision.reason = L"Für die Site " + site + L" wurde kein Anwendungspool gefunden.";
    return decision;
  }
  for (const PoolFinding& pool : survey.pools) {
    const std::wstring name = Quoted(pool.name);
    if (!IsSafeSiteName(pool.name)) {
      decision.reason = L"Unzulässiger Name eines Anwendungspools der Site " + site + L".";
    } else if (!pool.started || !pool.overlapDisallowed) {
      decision.reason = L"Der Zustand des Anwendungspools " + name + L" ist nicht lesbar.";
    } else if (!*pool.started) {
      decision.reason = L"Der Anwendungspool " + name + L" läuft nicht.";
    } else if (*pool.overlapDisallowed) {
      decision.reason = L"Der Anwendungspool " + name +
                        L" erlaubt kein überlappendes Recycling (disallowOverlappingRotation).";
    }
    if (!decision.reason.empty()) return decision;
  }
  decision.recycle = true;
  return decision;
}

std::string RecycleJournalPayload() { return "RECYCLE"; }

bool JournalMarksRecycle(const std::string& journalBytes) {
  const std::vector<std::string> records = DecodeJournalRecords(journalBytes);
  for (std::size_t i = 1; i < records.size(); ++i) {
    if (records[i] == RecycleJournalPayload()) return true;
  }
  return false;
}
