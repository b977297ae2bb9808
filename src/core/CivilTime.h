#pragma once
// Calendar dates as day and second counts (proleptic Gregorian, days since 1970-01-01), so that
// schedules and records can do their arithmetic on plain numbers whatever the time zone: a local
// time gives "local seconds", a UTC time the usual Unix seconds.

#include <cstdint>

#include "core/LocalTime.h"

std::int64_t DaysFromCivil(int year, int month, int day);
// Seconds since 1970-01-01 00:00:00 of the same clock as the time (milliseconds dropped).
std::int64_t EpochSeconds(const LocalTime& time);
// The time of those seconds, with its day of the week.
LocalTime TimeFromEpochSeconds(std::int64_t seconds);
