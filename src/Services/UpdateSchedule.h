#pragma once
// When the update cycle runs: a pure function of the hour read at the start of a tick, the two
// window flags and test mode.

struct ScheduleFlags {
  bool noonDone = false;      // FMittagsUeberpruefungAbgeschlossen
  bool midnightDone = false;  // FMitternachtsUeberpruefungAbgeschlossen
  bool operator==(const ScheduleFlags&) const = default;
};

struct ScheduleDecision {
  bool runCycle = false;
  ScheduleFlags flagsAfterCycle;  // the flags to set once the cycle has run
};

// In test mode every tick runs the cycle and the flags stay as they are. Otherwise the cycle runs
// in hour 12 unless the noon check is done, and in hour 0 unless the midnight check is done; the
// check that ran counts as done and the other window opens.
ScheduleDecision DecideTick(int hour, ScheduleFlags flags, bool testMode);
