#include "Services/UpdateSchedule.h"

ScheduleDecision DecideTick(int hour, ScheduleFlags flags, bool testMode) {
  ScheduleDecision decision{false, flags};
  if (testMode) {
    decision.runCycle = true;
  } else if (hour == 12 && !flags.noonDone) {
    decision.runCycle = true;
    decision.flagsAfterCycle = {true, false};
  } else if (hour == 0 && !flags.midnightDone) {
    decision.runCycle = true;
    decision.flagsAfterCycle = {false, true};
  }
  return decision;
}
