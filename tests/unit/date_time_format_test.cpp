#include <gtest/gtest.h>

#include "core/DateTimeFormat.h"
#include "support/FakeClock.h"

namespace {

RegionalSettings German() {
  RegionalSettings r;
  r.shortDatePattern = L"dd.MM.yyyy";
  r.longTimePattern = L"HH:mm:ss";
  r.amDesignator = L"";
  r.pmDesignator = L"";
  const wchar_t* months[] = {L"Januar",    L"Februar", L"März",     L"April",
                             L"Mai",       L"Juni",    L"Juli",     L"August",
                             L"September", L"Oktober", L"November", L"Dezember"};
  const wchar_t* shortMonths[] = {L"Jan", L"Feb", L"Mär", L"Apr", L"Mai", L"Jun",
                                  L"Jul", L"Aug", L"Sep", L"Okt", L"Nov", L"Dez"};
  const wchar_t* days[] = {L"Sonntag",    L"Montag",  L"Dienstag", L"Mittwoch",
                           L"Donnerstag", L"Freitag", L"Samstag"};
  const wchar_t* shortDays[] = {L"So", L"Mo", L"Di", L"Mi", L"Do", L"Fr", L"Sa"};
  for (int i = 0; i < 12; ++i) r.monthNames[i] = months[i];
  for (int i = 0; i < 12; ++i) r.abbreviatedMonthNames[i] = shortMonths[i];
  for (int i = 0; i < 7; ++i) r.dayNames[i] = days[i];
  for (int i = 0; i < 7; ++i) r.abbreviatedDayNames[i] = shortDays[i];
  r.decimalSeparator = L',';
  return r;
}

RegionalSettings UnitedStates() {
  RegionalSettings r;  // the defaults are M/d/yyyy and h:mm:ss tt
  const wchar_t* months[] = {L"January",   L"February", L"March",    L"April",
                             L"May",       L"June",     L"July",     L"August",
                             L"September", L"October",  L"November", L"December"};
  const wchar_t* days[] = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                           L"Thursday", L"Friday", L"Saturday"};
  for (int i = 0; i < 12; ++i) {
    r.monthNames[i] = months[i];
    r.abbreviatedMonthNames[i] = std::wstring(months[i]).substr(0, 3);
  }
  for (int i = 0; i < 7; ++i) {
    r.dayNames[i] = days[i];
    r.abbreviatedDayNames[i] = std::wstring(days[i]).substr(0, 3);
  }
  return r;
}

struct PatternCase {
  const char* name;
  bool german;
  const wchar_t* pattern;
  LocalTime time;
  const wchar_t* expected;
};

class DateTimePatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(DateTimePatternTest, FormatsLikeWindows) {
  const PatternCase& c = GetParam();
  RegionalSettings regional = c.german ? German() : UnitedStates();
  EXPECT_EQ(FormatDateTime(c.pattern, c.time, regional), c.expected);
}

const LocalTime kJune5 = MakeLocalTime(2025, 6, 5, 12, 0, 5);  // a Thursday

INSTANTIATE_TEST_SUITE_P(
    Patterns, DateTimePatternTest,
    ::testing::Values(
        PatternCase{"GermanTwoDigitDate", true, L"dd.MM.yyyy", kJune5, L"05.06.2025"},
        PatternCase{"GermanShortDate", true, L"d.M.yyyy", kJune5, L"5.6.2025"},
        PatternCase{"GermanShortDateTwoDigitValues", true, L"d.M.yyyy",
                    MakeLocalTime(2025, 12, 31, 23, 59, 59), L"31.12.2025"},
        PatternCase{"GermanTime", true, L"HH:mm:ss", MakeLocalTime(2025, 6, 5, 7, 3, 9),
                    L"07:03:09"},
        PatternCase{"GermanTimeAtMidnightHour", true, L"HH:mm:ss",
                    MakeLocalTime(2025, 6, 5, 0, 0, 0, 1), L"00:00:00"},
        PatternCase{"GermanNames", true, L"dddd, d. MMMM yyyy", kJune5,
                    L"Donnerstag, 5. Juni 2025"},
        PatternCase{"GermanAbbreviatedNames", true, L"ddd d. MMM yy", MakeLocalTime(2024, 3, 3),
                    L"So 3. Mär 24"},
        PatternCase{"UsDate", false, L"M/d/yyyy", kJune5, L"6/5/2025"},
        PatternCase{"UsNoonIsPm", false, L"h:mm:ss tt", kJune5, L"12:00:05 PM"},
        PatternCase{"UsHalfPastMidnightIsTwelveAm", false, L"h:mm:ss tt",
                    MakeLocalTime(2025, 6, 5, 0, 30, 0), L"12:30:00 AM"},
        PatternCase{"UsAfternoon", false, L"h:mm:ss tt", MakeLocalTime(2025, 6, 5, 13, 7, 9),
                    L"1:07:09 PM"},
        PatternCase{"UsMorning", false, L"h:mm:ss tt", MakeLocalTime(2025, 6, 5, 9, 5, 3),
                    L"9:05:03 AM"},
        PatternCase{"UsLastMinuteBeforeNoon", false, L"hh:mm tt",
                    MakeLocalTime(2025, 6, 5, 11, 59, 0), L"11:59 AM"},
        PatternCase{"TwoDigitTwelveHour", false, L"hh", MakeLocalTime(2025, 6, 5, 13), L"01"},
        PatternCase{"SingleLetterDesignator", false, L"h t", MakeLocalTime(2025, 6, 5, 1), L"1 A"},
        PatternCase{"SingleDigitMinuteSecond", false, L"m:s", MakeLocalTime(2025, 6, 5, 8, 5, 7),
                    L"5:7"},
        PatternCase{"OneDigitHour24", true, L"H", MakeLocalTime(2025, 6, 5, 7), L"7"},
        PatternCase{"YearWithoutCenturyNoLeadingZero", false, L"y", MakeLocalTime(2005, 1, 1),
                    L"5"},
        PatternCase{"TwoDigitYear", false, L"yy", MakeLocalTime(2005, 1, 1), L"05"},
        PatternCase{"FourDigitYearPadded", false, L"yyyy", MakeLocalTime(987, 1, 1), L"0987"},
        PatternCase{"FiveYsAreFourDigits", false, L"yyyyy", kJune5, L"2025"},
        PatternCase{"Era", false, L"gg yyyy", kJune5, L"A.D. 2025"},
        PatternCase{"QuotedText", true, L"'Uhr' HH", kJune5, L"Uhr 12"},
        PatternCase{"QuotedLettersAreNotFields", true, L"'d M y h m s t' d", kJune5,
                    L"d M y h m s t 5"},
        PatternCase{"DoubledApostropheInsideQuotes", false, L"h 'o''clock'", kJune5, L"12 o'clock"},
        PatternCase{"DoubledApostropheOutsideQuotesIsEmptyText", true, L"HH''mm", kJune5, L"1200"},
        PatternCase{"QuotedApostropheAlone", true, L"''''", kJune5, L"'"},
        PatternCase{"ApostropheAtTheEndOfQuotedText", true, L"'a''' HH", kJune5, L"a' 12"},
        PatternCase{"UnclosedQuoteRunsToTheEnd", true, L"HH 'mm", kJune5, L"12 mm"},
        PatternCase{"OtherCharactersLiteral", true, L"yyyy-MM-ddTHH|Z", kJune5,
                    L"2025-06-05T12|Z"}),
    [](const ::testing::TestParamInfo<PatternCase>& info) { return info.param.name; });

struct StampCase {
  const char* name;
  bool german;
  LocalTime time;
  const wchar_t* expected;
};

class TimeStampTest : public ::testing::TestWithParam<StampCase> {};

TEST_P(TimeStampTest, ShortDateThenLongTimeUnlessExactlyMidnight) {
  const StampCase& c = GetParam();
  EXPECT_EQ(FormatTimeStamp(c.time, c.german ? German() : UnitedStates()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, TimeStampTest,
    ::testing::Values(
        StampCase{"GermanNoon", true, kJune5, L"05.06.2025 12:00:05"},
        StampCase{"GermanMidnightDateOnly", true, MakeLocalTime(2025, 6, 5), L"05.06.2025"},
        StampCase{"GermanOneMillisecondPastMidnight", true, MakeLocalTime(2025, 6, 5, 0, 0, 0, 1),
                  L"05.06.2025 00:00:00"},
        StampCase{"GermanOneSecondPastMidnight", true, MakeLocalTime(2025, 6, 5, 0, 0, 1),
                  L"05.06.2025 00:00:01"},
        StampCase{"GermanOneMinutePastMidnight", true, MakeLocalTime(2025, 6, 5, 0, 1, 0),
                  L"05.06.2025 00:01:00"},
        StampCase{"UsMidnightDateOnly", false, MakeLocalTime(2025, 6, 5), L"6/5/2025"},
        StampCase{"UsOneMillisecondPastMidnight", false, MakeLocalTime(2025, 6, 5, 0, 0, 0, 1),
                  L"6/5/2025 12:00:00 AM"},
        StampCase{"UsEvening", false, MakeLocalTime(2025, 12, 31, 23, 59, 59, 999),
                  L"12/31/2025 11:59:59 PM"}),
    [](const ::testing::TestParamInfo<StampCase>& info) { return info.param.name; });

TEST(TimeStampTest, UsesThePatternsOfTheGivenSettings) {
  RegionalSettings regional = German();
  regional.shortDatePattern = L"yyyy-MM-dd";
  regional.longTimePattern = L"HH.mm";
  EXPECT_EQ(FormatTimeStamp(kJune5, regional), L"2025-06-05 12.00");
}

}  // namespace
