#include "core/RetryPolicy.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "core/CivilTime.h"

namespace {
constexpr std::int64_t kFirstDelaySeconds = 5 * 60;
constexpr std::int64_t kMaxDelaySeconds = 2 * 3600;

bool AllDigits(const std::wstring& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

std::vector<std::wstring> Tokens(const std::wstring& text) {
  std::vector<std::wstring> tokens;
  std::wstring current;
  for (wchar_t c : text) {
    if (c == L' ' || c == L',' || c == L'-' || c == L'\t') {
      if (!current.empty()) tokens.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(current);
  return tokens;
}

int MonthNumber(const std::wstring& token) {
  static const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                           L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
  for (int i = 0; i < 12; ++i) {
    if (token == kMonths[i]) return i + 1;
  }
  return 0;
}

bool IsWeekday(const std::wstring& token) {
  static const wchar_t* const kDays[] = {L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat", L"Sun"};
  return token.size() >= 3 &&
         std::any_of(std::begin(kDays), std::end(kDays),
                     [&](const wchar_t* day) { return token.compare(0, 3, day) == 0; });
}

// "hh:mm:ss" as seconds of the day.
std::optional<int> TimeOfDay(const std::wstring& token) {
  if (token.size() != 8 || token[2] != L':' || token[5] != L':') return std::nullopt;
  const std::wstring h = token.substr(0, 2), m = token.substr(3, 2), s = token.substr(6, 2);
  if (!AllDigits(h) || !AllDigits(m) || !AllDigits(s)) return std::nullopt;
  const int hour = std::stoi(h), minute = std::stoi(m), second = std::stoi(s);
  if (hour > 23 || minute > 59 || second > 60) return std::nullopt;
  return hour * 3600 + minute * 60 + second;
}

// The three date forms HTTP allows, told apart by where the month and the time stand.
std::optional<std::int64_t> HttpDate(const std::wstring& value, std::int64_t nowUnix) {
  const std::vector<std::wstring> t = Tokens(value);
  if (t.size() < 5 || !IsWeekday(t[0])) return std::nullopt;
  std::wstring day, year, time;
  int month = 0;
  if (t.size() == 6 && t[5] == L"GMT") {  // Sun, 06 Nov 1994 08:49:37 GMT / Sunday, 06-Nov-94 ...
    day = t[1], month = MonthNumber(t[2]), year = t[3], time = t[4];
  } else if (t.size() == 5) {  // Sun Nov  6 08:49:37 1994
    month = MonthNumber(t[1]), day = t[2], time = t[3], year = t[4];
  }
  const std::optional<int> seconds = TimeOfDay(time);
  if (month == 0 || !seconds || !AllDigits(day) || day.size() > 2 || !AllDigits(year) ||
      (year.size() != 4 && year.size() != 2)) {
    return std::nullopt;
  }
  int y = std::stoi(year);
  if (year.size() == 2) {
    // A two-digit year lies in the century that puts it at most 50 years ahead of now.
    const int thisYear = TimeFromEpochSeconds(nowUnix).year;
    y += thisYear / 100 * 100;
    if (y > thisYear + 50) y -= 100;
  }
  const int d = std::stoi(day);
  if (d < 1 || d > 31) return std::nullopt;
  return DaysFromCivil(y, month, d) * 86400 + *seconds;
}
}  // namespace

std::int64_t RetryBaseSeconds(int retryNumber) {
  std::int64_t delay = kFirstDelaySeconds;
  for (int n = 1; n < retryNumber && delay < kMaxDelaySeconds; ++n) delay *= 2;
  return std::min(delay, kMaxDelaySeconds);
}

std::int64_t JitteredRetrySeconds(int retryNumber, std::uint64_t random) {
  const std::uint64_t base = static_cast<std::uint64_t>(RetryBaseSeconds(retryNumber));
  return static_cast<std::int64_t>(random % (base + 1));
}

std::optional<std::int64_t> RetryAt(int retryNumber, std::int64_t now, std::int64_t notBefore,
                                    std::int64_t windowEnd, std::uint64_t random) {
  const std::int64_t at = std::max(now + JitteredRetrySeconds(retryNumber, random), notBefore);
  if (at >= windowEnd) return std::nullopt;
  return at;
}

std::optional<std::int64_t> RetryAfterUntil(const std::wstring& raw, std::int64_t nowUnix) {
  std::wstring value = raw;
  while (!value.empty() && std::iswspace(value.back())) value.pop_back();
  while (!value.empty() && std::iswspace(value.front())) value.erase(value.begin());
  std::optional<std::int64_t> until;
  if (AllDigits(value)) {
    if (value.size() > 9) return std::nullopt;  // far beyond any accepted wait
    until = nowUnix + std::stoll(value);
  } else {
    until = HttpDate(value, nowUnix);
  }
  if (!until || *until <= nowUnix || *until - nowUnix > kMaxRetryAfterSeconds) return std::nullopt;
  return until;
}

bool IsComeBackLaterStatus(int status) { return status == 429 || status == 503; }
