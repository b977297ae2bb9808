#include "Services/KORVAL_Update_Service.h"

#include "Services/FleetSettings.h"
#include "Services/OutcomeReporter.h"
#include "Services/ServiceSettings.h"
#include "Services/UpdateCycle.h"
#include "core/CivilTime.h"
#include "core/Exception.h"
#include "core/HostOffset.h"
#include "core/RolloutBrake.h"
#include "core/UpdateSchedule.h"

namespace {

constexpr unsigned NormalInterval = 30000;
constexpr unsigned TestModeInterval = 120000;
// A tick never waits for a cycle started on the command line: the service thread stays free for
// control requests, and the window stays open for a later tick.
constexpr unsigned TickLockWaitMs = 1000;

}  // namespace

void TKORVAL_Update_Service::ServiceStart(bool& Started) {
  Timer = timers_.Create();
  Timer->SetOnTimer([this] { TimerTick(); });
  // Before anything is logged: a lock that somebody else made fails the start.
  std::unique_ptr<TDLLSynchronisierer> engine = engines_();
  cycleLock_.Claim(engine->DLLKonfiguration().Downloadpfad());
  FDLLSynchronisierer = std::move(engine);
  if (FDLLSynchronisierer->DLLKonfiguration().TestModus()) {
    FDLLSynchronisierer->SetzeProtokollEintrag(L"Service gestartet (Testmodus).");
    Timer->SetInterval(TestModeInterval);
  } else {
    FDLLSynchronisierer->SetzeProtokollEintrag(L"Service gestartet.");
    Timer->SetInterval(NormalInterval);
  }
  FMittagsUeberpruefungAbgeschlossen = false;
  FMitternachtsUeberpruefungAbgeschlossen = false;
  FPlaner = std::make_unique<CheckPlanner>(PlannerSettingsFor(
      FDLLSynchronisierer->DLLKonfiguration(), FDLLSynchronisierer->Maschinenkennung()));
  FServerPause = ServerPauseLokal();
  PlaneZeitstempel(EpochSeconds(clock_.Now()));
  FDLLSynchronisierer->SchuetzeVorhandenenDownloadOrdner();
  // An exchange that a crash interrupted is finished before the first tick, unless a cycle of
  // the command line holds the lock (that cycle finishes it, or the next tick does).
  if (FDLLSynchronisierer->AustauschOffen()) {
    std::optional<CycleLockGuard> zyklusSperre;
    if (NimmZyklusSperre(zyklusSperre, 0)) FDLLSynchronisierer->VollendeUnterbrochenenAustausch();
  }
  RecordStatus(*FDLLSynchronisierer, SummarizeStart(*FDLLSynchronisierer));
  FDLLSynchronisierer->BeendeZyklus();
  Started = true;
}

void TKORVAL_Update_Service::ServiceStop(bool& Stopped) {
  // Both owners are emptied, so a second stop request, handled while the queue drains, finds
  // nothing left to destroy.
  Timer.reset();
  FDLLSynchronisierer.reset();
  FPlaner.reset();
  Stopped = true;
}

void TKORVAL_Update_Service::TimerTick() {
  if (!FDLLSynchronisierer || !FPlaner) return;
  // The time is read once, before the cycle: a cycle that ends after the hour still counts for
  // the window it started in.
  const std::int64_t jetzt = EpochSeconds(clock_.Now());
  const PlannedTick geplant = FPlaner->OnTick(jetzt, FServerPause);
  // A site left stopped is tried again at every tick, not only when a check is due.
  if (!geplant.runCycle && !FDLLSynchronisierer->AustauschOffen()) {
    // Between the windows only the small timestamp, at this host's offset, never within a
    // server's pause: a halt reaches the host within the interval.
    if (FDLLSynchronisierer->ZeitstempelAktiv() && jetzt >= FNaechsterZeitstempel &&
        jetzt >= FServerPause) {
      std::optional<CycleLockGuard> sperre;
      if (!NimmZyklusSperre(sperre, 0)) return;
      FDLLSynchronisierer->PruefeZeitstempel();
      PlaneZeitstempel(jetzt);
      FDLLSynchronisierer->BeendeZyklus();
    }
    return;
  }
  std::optional<CycleLockGuard> zyklusSperre;
  UpdateCycleResult ergebnis;
  if (!NimmZyklusSperre(zyklusSperre, TickLockWaitMs)) {
    // A download folder that cannot be made or proven fails the window's cycle, as a folder
    // refused within it does: a retry at every tick would only repeat the error and its event.
    if (zyklusSperre || !geplant.runCycle) return;
    ergebnis.failed = ergebnis.checkRan = true;
    RecordStatus(*FDLLSynchronisierer, SummarizeCycle(*FDLLSynchronisierer, true));
    FDLLSynchronisierer->BeendeZyklus();
  } else if (!geplant.runCycle) {
    FDLLSynchronisierer->VollendeUnterbrochenenAustausch();
    return;
  } else {
    // A window's check counts as done only when it ran: one held back by an exchange that could
    // not be finished yet is tried again at the next tick.
    ergebnis = RunUpdateCycle(*FDLLSynchronisierer);
  }
  if (!ergebnis.checkRan) return;
  PlaneZeitstempel(jetzt);
  FServerPause = ServerPauseLokal();
  const std::optional<std::int64_t> neuerVersuch = FPlaner->OnCycleEnd(
      geplant, ergebnis.passing, EpochSeconds(clock_.Now()), FServerPause, zufall_());
  if (neuerVersuch) FDLLSynchronisierer->MeldeNeuenVersuch(*neuerVersuch);
  if (FDLLSynchronisierer->DLLKonfiguration().TestModus()) return;
  const ScheduleFlags flags = FlagsFor(FPlaner->LastWindow());
  FMittagsUeberpruefungAbgeschlossen = flags.noonDone;
  FMitternachtsUeberpruefungAbgeschlossen = flags.midnightDone;
}

// Empty when the lock could not be reached (its folder, logged); held or not when it could.
bool TKORVAL_Update_Service::NimmZyklusSperre(std::optional<CycleLockGuard>& sperre,
                                              unsigned milliseconds) {
  if (!FDLLSynchronisierer->BereiteDownloadOrdnerVor()) return false;
  try {
    sperre.emplace(cycleLock_, milliseconds);
  } catch (const Exception& e) {
    FDLLSynchronisierer->SetzeProtokollEintrag(L"Fehler bei der Zyklussperre: " + e.Message());
    return false;
  }
  return sperre->Held();
}

void TKORVAL_Update_Service::PlaneZeitstempel(std::int64_t jetzt) {
  const TDLLKonfiguration& k = FDLLSynchronisierer->DLLKonfiguration();
  const std::int64_t intervall = static_cast<std::int64_t>(k.Zeitstempelintervall()) * 60;
  FNaechsterZeitstempel = NextTimestampSlot(
      jetzt, HostOffsetSeconds(FDLLSynchronisierer->Maschinenkennung(), k.Zeitstempelintervall()),
      intervall);
}

// A server's Retry-After on the local clock of the schedule; 0 when none holds. Read at the start
// and after each cycle (the only times it changes), not at every tick.
std::int64_t TKORVAL_Update_Service::ServerPauseLokal() {
  const std::int64_t bis = FDLLSynchronisierer->ServerPauseBis();
  if (bis == 0) return 0;
  return bis + EpochSeconds(clock_.Now()) - EpochSeconds(clock_.UtcNow());
}

void TKORVAL_Update_Service::ServiceAfterInstall(ServiceRegistryKeys& registry) {
  registry.WriteStringIfKeyOpens(ServiceSettings::RegistryKey,
                                 ServiceSettings::DescriptionValueName,
                                 ServiceSettings::Description);
}
