#pragma once
// The real clock and the user's regional settings.

#include "platform/Clock.h"

class Win32Clock : public Clock {
 public:
  LocalTime Now() override;
  LocalTime UtcNow() override;
  std::uint64_t TickMilliseconds() override;
  void Wait(unsigned milliseconds) override;
};

// The user's short date and long time patterns, AM/PM designators, month and day names and
// decimal separator, as the process finds them now. A value the platform does not deliver keeps
// the default of RegionalSettings.
RegionalSettings CaptureRegionalSettings();
