#pragma once
// When the update cycle runs: a pure function of the local time read at the start of a tick, the
// window that ran last and test mode. A window opens at each listed hour (by default 0 and 12),
// shifted by the host's own offset, and lasts an hour; its check runs at the first tick inside it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ScheduleFlags {
  bool noonDone = false;      // FMittagsUeberpruefungAbgeschlossen
  bool midnightDone = false;  // FMitternachtsUeberpruefungAbgeschlossen
  bool operator==(const ScheduleFlags&) const = default;
};

struct ScheduleDecision {
  bool runCycle = false;
  ScheduleFlags flagsAfterCycle;  // the flags to set once the cycle has run
};

// The default windows alone, without offset: in test mode every tick runs the cycle and the flags
// stay as they are. Otherwise the cycle runs in hour 12 unless the noon check is done, and in
// hour 0 unless the midnight check is done; the check that ran counts as done and the other
// window opens.
ScheduleDecision DecideTick(int hour, ScheduleFlags flags, bool testMode);

// --- Any list of window hours, with a per-host offset ---

// The hours of the default "ZEITFENSTER".
extern const wchar_t* const kDefaultWindowHours;

// "0;12": hours 0 to 23 in decimal, separated by ";", blanks around each allowed; sorted, each
// once. Raises EConvertError for anything else (the empty text included).
std::vector<int> ParseWindowHours(const std::wstring& text);

// The shortest time from one window's hour to the next (over midnight too): 1440 for one hour.
int WindowGapMinutes(const std::vector<int>& hours);

struct WindowSchedule {
  std::vector<int> hours{0, 12};    // sorted, each once, not empty
  std::uint32_t offsetSeconds = 0;  // less than WindowGapMinutes(hours) * 60
};

// One opening of a window: the day (days since 1970-01-01, local) and hour at which it opened
// before the offset.
struct WindowOccurrence {
  std::int64_t day = 0;
  int hour = 0;
  bool operator==(const WindowOccurrence&) const = default;
};

struct WindowTick {
  bool runCycle = false;
  std::optional<WindowOccurrence> window;  // the window the tick falls in, if any
  std::int64_t nextWindowStart = 0;        // local seconds at which the following window opens
};

// For a tick at localSeconds (seconds since 1970-01-01 of the local clock): the cycle runs when
// the tick falls in a window (its hour, shifted by the offset) and that window is not the one
// that ran last; with a single hour in the list, the same window runs again on another day. With
// hours {0, 12} and no offset this is DecideTick exactly.
WindowTick DecideWindowTick(const WindowSchedule& schedule, std::int64_t localSeconds,
                            const std::optional<WindowOccurrence>& lastRun);

// The flags the default windows keep for the window that ran last.
ScheduleFlags FlagsFor(const std::optional<WindowOccurrence>& lastRun);
