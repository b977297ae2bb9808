#pragma once
// The "STATUS" switch: prints the status the service wrote last, for a script or a monitoring
// agent that polls.

#include "Models/DLLSynchronisierer.h"
#include "platform/ConsoleOutput.h"
#include "platform/StatusFileStore.h"

// Loads the configuration as the service does (to find Status.json beside the run log), prints
// the status and returns StatusExitCode's code; 1 when there is no readable status (the service
// has not run yet, or the file is not its) or the configuration does not load. Writes nothing.
int RunStatusCommand(const EnginePlatform& platform, StatusFileStore& files, ConsoleOutput& out);
