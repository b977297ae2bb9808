#pragma once
// Runs the process in service mode: the main thread's message loop, the dispatcher thread in
// StartServiceCtrlDispatcherW, the service's main routine with its control handler, and the
// service thread. Returns when the dispatcher has returned; a dispatcher that fails (the process
// was not started by the Service Control Manager) leaves one event-log entry and nothing else.

#include <string>

#include "platform/EventSink.h"
#include "Services/ServiceEvents.h"

void RunServiceHost(ServiceEvents& module, EventSink& eventLog, const EventSources& sources);

// Whether a stop or shutdown request of the running service waits for the service thread; false
// outside the service. Safe on any thread.
bool ServiceStopPending();
