#pragma once
// A moment of the local (or UTC) clock, and the regional settings that format it.

#include <string>

struct LocalTime {
  int year = 0;
  int month = 0;      // 1..12
  int day = 0;        // 1..31
  int dayOfWeek = 0;  // 0 = Sunday .. 6 = Saturday
  int hour = 0;       // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// The regional settings the process has at its start; captured once, never re-read.
struct RegionalSettings {
  std::wstring shortDatePattern = L"M/d/yyyy";   // Windows pattern syntax (d, M, y, g, '...')
  std::wstring longTimePattern = L"h:mm:ss tt";  // Windows pattern syntax (h, H, m, s, t, '...')
  std::wstring amDesignator = L"AM";
  std::wstring pmDesignator = L"PM";
  std::wstring monthNames[12];
  std::wstring abbreviatedMonthNames[12];
  std::wstring dayNames[7];  // Sunday first
  std::wstring abbreviatedDayNames[7];
  wchar_t decimalSeparator = L'.';
};
