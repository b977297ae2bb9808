#include "support/FakeClock.h"

LocalTime MakeLocalTime(int year, int month, int day, int hour, int minute, int second,
                        int millisecond) {
  // Sakamoto's rule: 0 = Sunday.
  static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  int y = month < 3 ? year - 1 : year;
  LocalTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.dayOfWeek = (y + y / 4 - y / 100 + y / 400 + offsets[(month - 1) % 12] + day) % 7;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.millisecond = millisecond;
  return t;
}

void FakeClock::Wait(unsigned milliseconds) {
  waits_.push_back(milliseconds);
  ticks_ += milliseconds;
}
