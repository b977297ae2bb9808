#pragma once
// The service module: owns the schedule timer and the update engine from service start to
// service stop, and writes the service's description after registration.

#include <functional>
#include <memory>
#include <optional>
#include <random>

#include "Models/DLLSynchronisierer.h"
#include "Services/CheckPlanner.h"
#include "Services/CycleLockGuard.h"
#include "Services/ScheduleTimer.h"
#include "Services/ServiceEvents.h"
#include "Services/ServiceRegistryKeys.h"
#include "platform/Clock.h"

// Builds a new engine; raises what the engine's constructor raises.
using EngineFactory = std::function<std::unique_ptr<TDLLSynchronisierer>()>;

class TKORVAL_Update_Service : public ServiceEvents {
 public:
  // The clock gives the hour that decides whether a tick runs the update cycle; the cycle lock
  // keeps a tick's cycle apart from one started on the command line.
  TKORVAL_Update_Service(ScheduleTimerFactory& timers, Clock& clock, EngineFactory engines,
                         CycleLock& cycleLock)
      : timers_(timers), clock_(clock), engines_(std::move(engines)), cycleLock_(cycleLock) {}

  // Creates and arms the timer, creates the engine, writes the start line and sets the tick
  // interval (30 s, 120 s in test mode). Raises when the engine cannot be created; the run log
  // is then untouched.
  void ServiceStart(bool& Started) override;
  // Destroys timer and engine. Finds nothing to destroy when called a second time.
  void ServiceStop(bool& Stopped) override;
  // Writes the description value into the service's registry key when the key opens. Raises
  // when the value cannot be written.
  void ServiceAfterInstall(ServiceRegistryKeys& registry);

  const ScheduleTimer* CurrentTimer() const { return Timer.get(); }
  const TDLLSynchronisierer* DLLSynchronisierer() const { return FDLLSynchronisierer.get(); }
  bool MittagsUeberpruefungAbgeschlossen() const { return FMittagsUeberpruefungAbgeschlossen; }
  bool MitternachtsUeberpruefungAbgeschlossen() const {
    return FMitternachtsUeberpruefungAbgeschlossen;
  }

 private:
  // The schedule timer's tick handler, on the service thread: runs the update cycle at every tick
  // in test mode, otherwise once in the noon and once in the midnight hour.
  void TimerTick();
  // Makes and proves the download folder, then waits up to `milliseconds` for the cycle lock in
  // it; a folder or lock that cannot be had is logged and leaves `sperre` empty. Answers whether
  // the lock is held.
  bool NimmZyklusSperre(std::optional<CycleLockGuard>& sperre, unsigned milliseconds);
  std::int64_t ServerPauseLokal();
  void PlaneZeitstempel(std::int64_t jetzt);

  ScheduleTimerFactory& timers_;
  Clock& clock_;
  EngineFactory engines_;
  CycleLock& cycleLock_;

  std::unique_ptr<ScheduleTimer> Timer;
  std::unique_ptr<TDLLSynchronisierer> FDLLSynchronisierer;
  bool FMittagsUeberpruefungAbgeschlossen = false;
  bool FMitternachtsUeberpruefungAbgeschlossen = false;
  // The windows of the configuration, this host's offset within them and the retries; the two
  // flags above mirror its last window for the default hours.
  std::unique_ptr<CheckPlanner> FPlaner;
  std::mt19937_64 zufall_{std::random_device{}()};  // the draws of the retries' jitter
  std::int64_t FServerPause = 0;                    // see ServerPauseLokal()
  // With a release key: when the timestamp is fetched next between the windows (local seconds).
  std::int64_t FNaechsterZeitstempel = 0;
};
