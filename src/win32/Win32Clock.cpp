#include "win32/Win32Clock.h"

#include <windows.h>

namespace {

// Leaves target unchanged when the call fails; an empty value (a locale without AM/PM
// designators) is taken as it is.
void ReadLocaleText(LCTYPE type, std::wstring& target) {
  wchar_t buffer[128];
  int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 128);
  if (length > 0) target.assign(buffer, static_cast<std::size_t>(length - 1));
}

void ReadNames(RegionalSettings& r) {
  for (int i = 0; i < 12; ++i) {
    ReadLocaleText(LOCALE_SMONTHNAME1 + i, r.monthNames[i]);
    ReadLocaleText(LOCALE_SABBREVMONTHNAME1 + i, r.abbreviatedMonthNames[i]);
  }
  // Windows numbers the days from Monday (SDAYNAME1) to Sunday (SDAYNAME7); ours start on Sunday.
  for (int i = 0; i < 7; ++i) {
    int windowsIndex = (i + 6) % 7;
    ReadLocaleText(LOCALE_SDAYNAME1 + windowsIndex, r.dayNames[i]);
    ReadLocaleText(LOCALE_SABBREVDAYNAME1 + windowsIndex, r.abbreviatedDayNames[i]);
  }
}

}  // namespace

namespace {
LocalTime FromSystemTime(const SYSTEMTIME& st) {
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.dayOfWeek = st.wDayOfWeek;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}
}  // namespace

LocalTime Win32Clock::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return FromSystemTime(st);
}

LocalTime Win32Clock::UtcNow() {
  SYSTEMTIME st;
  GetSystemTime(&st);
  return FromSystemTime(st);
}

std::uint64_t Win32Clock::TickMilliseconds() { return GetTickCount64(); }

void Win32Clock::Wait(unsigned milliseconds) { Sleep(milliseconds); }

RegionalSettings CaptureRegionalSettings() {
  RegionalSettings r;
  ReadLocaleText(LOCALE_SSHORTDATE, r.shortDatePattern);
  ReadLocaleText(LOCALE_STIMEFORMAT, r.longTimePattern);
  ReadLocaleText(LOCALE_S1159, r.amDesignator);
  ReadLocaleText(LOCALE_S2359, r.pmDesignator);
  ReadNames(r);
  std::wstring decimal;
  ReadLocaleText(LOCALE_SDECIMAL, decimal);
  if (!decimal.empty()) r.decimalSeparator = decimal[0];
  return r;
}
