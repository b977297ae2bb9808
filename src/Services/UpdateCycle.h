#pragma once
// The update cycle: the version check and, only when it finds an older DLL, the download followed
// by the site restart with the exchange.

class TDLLSynchronisierer;

// Answers what the version check answered.
bool RunUpdateCycle(TDLLSynchronisierer& engine);
