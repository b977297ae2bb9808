#pragma once
// The service's main routine, once its control handler is registered.

#include <functional>

#include "platform/EventSink.h"
#include "Services/ServiceStatus.h"

// Reports csStartPending, runs the service thread and waits for its end, and reports csStopped
// in every case. An error goes to the event log as the failure of "execute"; never raises.
void RunServiceMain(ServiceStatusKeeper& status, EventSink& eventLog, const EventSources& sources,
                    const std::function<void()>& runServiceThreadAndWait);
