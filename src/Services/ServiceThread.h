#pragma once
// The work of the service thread: ServiceStart, the message loop that handles control requests
// and the schedule timer's ticks in queue order, and the drain of the queue after a stop.

#include <cstdint>

#include "platform/EventSink.h"
#include "Services/ServiceEvents.h"
#include "Services/ServiceMessageQueue.h"
#include "Services/ServiceStatus.h"

class ServiceThread {
 public:
  ServiceThread(ServiceEvents& events, ServiceStatusKeeper& status, EventSink& eventLog,
                EventSources sources)
      : events_(events), status_(status), eventLog_(eventLog), sources_(std::move(sources)) {}

  // Runs on the service thread once its queue exists. Reports csStartPending, calls ServiceStart
  // and, when it returned, reports csRunning and handles messages until a stop or shutdown
  // request has been handled; then handles what is still queued, without waiting. Every failure
  // goes to the event log; never raises.
  void Run(ServiceMessageQueue& queue);

 private:
  bool Start();
  // Handles one message; true when it ends the loop.
  bool Handle(ServiceMessageQueue& queue, const ServiceMessage& message);
  bool HandleControl(ServiceMessageQueue& queue, std::uint32_t code);

  ServiceEvents& events_;
  ServiceStatusKeeper& status_;
  EventSink& eventLog_;
  EventSources sources_;
};
