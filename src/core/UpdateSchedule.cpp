#include "core/UpdateSchedule.h"

#include <algorithm>

#include "core/Exception.h"

ScheduleDecision DecideTick(int hour, ScheduleFlags flags, bool testMode) {
  ScheduleDecision decision{false, flags};
  if (testMode) {
    decision.runCycle = true;
  } else if (hour == 12 && !flags.noonDone) {
    decision.runCycle = true;
    decision.flagsAfterCycle = {true, false};
  } else if (hour == 0 && !flags.midnightDone) {
    decision.runCycle = true;
    decision.flagsAfterCycle = {false, true};
  }
  return decision;
}

const wchar_t* const kDefaultWindowHours = L"0;12";

namespace {
constexpr std::int64_t kDay = 86400;

std::wstring Trimmed(const std::wstring& text) {
  const std::size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return L"";
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

int ParseHour(const std::wstring& entry, const std::wstring& whole) {
  const std::wstring digits = Trimmed(entry);
  const bool decimal =
      !digits.empty() && digits.size() <= 2 &&
      std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
  if (!decimal || std::stoi(digits) > 23) {
    throw EConvertError(L"'" + whole +
                        L"' ist keine gültige Liste von Stunden (0 bis 23, getrennt durch \";\")");
  }
  return std::stoi(digits);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
}  // namespace

std::vector<int> ParseWindowHours(const std::wstring& text) {
  std::vector<int> hours;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = text.find(L';', begin);
    hours.push_back(ParseHour(text.substr(begin, end - begin), text));
    if (end == std::wstring::npos) break;
    begin = end + 1;
  }
  std::sort(hours.begin(), hours.end());
  hours.erase(std::unique(hours.begin(), hours.end()), hours.end());
  return hours;
}

int WindowGapMinutes(const std::vector<int>& hours) {
  int gap = 24;
  for (std::size_t i = 0; i < hours.size(); ++i) {
    const int next = i + 1 < hours.size() ? hours[i + 1] : hours.front() + 24;
    if (hours.size() > 1) gap = std::min(gap, next - hours[i]);
  }
  return gap * 60;
}

WindowTick DecideWindowTick(const WindowSchedule& schedule, std::int64_t localSeconds,
                            const std::optional<WindowOccurrence>& lastRun) {
  WindowTick tick;
  // Shifting the clock back by the offset turns every shifted window into a plain hour.
  const std::int64_t shifted = localSeconds - schedule.offsetSeconds;
  const std::int64_t day = FloorDiv(shifted, kDay);
  const int hour = static_cast<int>((shifted - day * kDay) / 3600);
  const std::vector<int>& hours = schedule.hours;
  auto later = std::upper_bound(hours.begin(), hours.end(), hour);
  const std::int64_t nextStart =
      later != hours.end() ? day * kDay + *later * 3600 : (day + 1) * kDay + hours.front() * 3600;
  tick.nextWindowStart = nextStart + schedule.offsetSeconds;
  if (!std::binary_search(hours.begin(), hours.end(), hour)) return tick;
  tick.window = WindowOccurrence{day, hour};
  tick.runCycle = !lastRun || lastRun->hour != hour || (hours.size() == 1 && lastRun->day != day);
  return tick;
}

ScheduleFlags FlagsFor(const std::optional<WindowOccurrence>& lastRun) {
  if (!lastRun) return {};
  return {lastRun->hour == 12, lastRun->hour == 0};
}
