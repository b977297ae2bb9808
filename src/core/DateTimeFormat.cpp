#include "core/DateTimeFormat.h"

#include <algorithm>

namespace {

std::wstring Number(int value, std::size_t minDigits) {
  std::wstring digits = std::to_wstring(value);
  if (digits.size() < minDigits) digits.insert(0, minDigits - digits.size(), L'0');
  return digits;
}

// A name from one of the regional tables; an index out of range (a broken time) gives nothing
// rather than undefined behaviour.
std::wstring NameAt(const std::wstring* names, int count, int index) {
  if (index < 0 || index >= count) return std::wstring();
  return names[index];
}

std::wstring DayField(std::size_t run, const LocalTime& t, const RegionalSettings& r) {
  if (run <= 2) return Number(t.day, run);
  if (run == 3) return NameAt(r.abbreviatedDayNames, 7, t.dayOfWeek);
  return NameAt(r.dayNames, 7, t.dayOfWeek);
}

std::wstring MonthField(std::size_t run, const LocalTime& t, const RegionalSettings& r) {
  if (run <= 2) return Number(t.month, run);
  if (run == 3) return NameAt(r.abbreviatedMonthNames, 12, t.month - 1);
  return NameAt(r.monthNames, 12, t.month - 1);
}

std::wstring YearField(std::size_t run, const LocalTime& t) {
  if (run <= 2) return Number(t.year % 100, run);
  return Number(t.year, 4);
}

std::wstring DesignatorField(std::size_t run, const LocalTime& t, const RegionalSettings& r) {
  const std::wstring& designator = t.hour < 12 ? r.amDesignator : r.pmDesignator;
  if (run == 1) return designator.substr(0, 1);
  return designator;
}

bool IsFieldLetter(wchar_t c) {
  return c == L'd' || c == L'M' || c == L'y' || c == L'g' || c == L'h' || c == L'H' || c == L'm' ||
         c == L's' || c == L't';
}

std::wstring Field(wchar_t letter, std::size_t run, const LocalTime& t, const RegionalSettings& r) {
  std::size_t digits = std::min<std::size_t>(run, 2);
  switch (letter) {
    case L'd':
      return DayField(run, t, r);
    case L'M':
      return MonthField(run, t, r);
    case L'y':
      return YearField(run, t);
    case L'g':
      return L"A.D.";
    case L'h':
      return Number(t.hour % 12 == 0 ? 12 : t.hour % 12, digits);
    case L'H':
      return Number(t.hour, digits);
    case L'm':
      return Number(t.minute, digits);
    case L's':
      return Number(t.second, digits);
    default:
      return DesignatorField(run, t, r);
  }
}

// Copies the quoted text that starts at pattern[start] (an apostrophe) and returns the index
// after it. Inside the quotes a doubled apostrophe is one apostrophe; an unclosed quote runs to
// the end. Like the platform's own formatter, a doubled apostrophe outside quotes is an empty
// quoted text.
std::size_t CopyQuoted(std::wstring_view pattern, std::size_t start, std::wstring& out) {
  std::size_t i = start + 1;
  while (i < pattern.size()) {
    if (pattern[i] != L'\'') {
      out += pattern[i++];
    } else if (i + 1 < pattern.size() && pattern[i + 1] == L'\'') {
      out += L'\'';
      i += 2;
    } else {
      return i + 1;
    }
  }
  return i;
}

}  // namespace

std::wstring FormatDateTime(std::wstring_view pattern, const LocalTime& time,
                            const RegionalSettings& regional) {
  std::wstring out;
  std::size_t i = 0;
  while (i < pattern.size()) {
    wchar_t c = pattern[i];
    if (c == L'\'') {
      i = CopyQuoted(pattern, i, out);
    } else if (IsFieldLetter(c)) {
      std::size_t run = 1;
      while (i + run < pattern.size() && pattern[i + run] == c) ++run;
      out += Field(c, run, time, regional);
      i += run;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::wstring FormatTimeStamp(const LocalTime& time, const RegionalSettings& regional) {
  std::wstring stamp = FormatDateTime(regional.shortDatePattern, time, regional);
  bool midnight = time.hour == 0 && time.minute == 0 && time.second == 0 && time.millisecond == 0;
  if (!midnight) stamp += L' ' + FormatDateTime(regional.longTimePattern, time, regional);
  return stamp;
}

std::wstring UtcDigits(const LocalTime& t) {
  auto pad = [](int value, std::size_t width) {
    std::wstring text = std::to_wstring(value < 0 ? 0 : value);
    return std::wstring(text.size() < width ? width - text.size() : 0, L'0') + text;
  };
  return pad(t.year, 4) + pad(t.month, 2) + pad(t.day, 2) + pad(t.hour, 2) + pad(t.minute, 2) +
         pad(t.second, 2) + pad(t.millisecond, 3);
}
