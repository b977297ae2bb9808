#pragma once
// Date and time texts made from Windows date/time patterns and the regional settings captured at
// process start.

#include <string>
#include <string_view>

#include "core/LocalTime.h"

// Formats time with a Windows date/time pattern:
//   d dd ddd dddd   day, two-digit day, abbreviated and full day name
//   M MM MMM MMMM   month, two-digit month, abbreviated and full month name
//   y yy yyyy       year without century (no leading zero), two-digit year, four-digit year
//                   (three or more y's give the four-digit year)
//   g gg            era ("A.D.")
//   h hh H HH       hour on the 12-hour clock, the same with two digits, 24-hour clock
//   m mm s ss       minute and second, without and with a leading zero
//   t tt            first character of the AM/PM designator, the whole designator
//   'text'          literal text; inside it '' gives one apostrophe ('o''clock' is o'clock),
//                   while '' outside quotes is an empty text, as GetDateFormatW has it
// Every other character is copied as it is. Longer runs of a letter than listed fall back to
// its longest form.
std::wstring FormatDateTime(std::wstring_view pattern, const LocalTime& time,
                            const RegionalSettings& regional);

// The run log's time stamp: the date in the short date pattern, then, unless the time is
// exactly 00:00:00.000, one blank and the time in the long time pattern.
std::wstring FormatTimeStamp(const LocalTime& time, const RegionalSettings& regional);

// The time as 17 digits, yyyymmddhhmmssmmm: sorts as text in time order, fits a file name.
std::wstring UtcDigits(const LocalTime& time);
