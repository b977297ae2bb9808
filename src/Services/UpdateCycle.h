#pragma once
// The update cycle: an unfinished earlier exchange is finished first; then the version check and,
// only when it finds an older DLL of a version not rejected before, the download followed by the
// site restart with the exchange.

class TDLLSynchronisierer;

struct UpdateCycleResult {
  bool updateDue = false;  // what the version check answered
  bool failed = false;     // some step of the cycle logged a failure
  bool checkRan = false;   // the version check ran (not when an unfinished exchange held it back)
  bool passing = false;    // it failed for a passing reason only: worth a retry in the window
  bool installed = false;  // an update was installed and kept
};

UpdateCycleResult RunUpdateCycle(TDLLSynchronisierer& engine);
