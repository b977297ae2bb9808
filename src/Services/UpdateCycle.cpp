#include "Services/UpdateCycle.h"

#include "Models/DLLSynchronisierer.h"
#include "Services/OutcomeReporter.h"

UpdateCycleResult RunUpdateCycle(TDLLSynchronisierer& engine) {
  engine.BeginneZyklus();
  UpdateCycleResult result;
  // Nothing is written into a folder of the service that another account could take. The
  // window counts as used: the folder needs an administrator, and a retry at every tick would
  // only repeat the error event.
  if (!engine.PruefeEigeneOrdner()) {
    result.failed = true;
    result.checkRan = true;
    RecordStatus(engine, SummarizeCycle(engine, true));
    engine.BeendeZyklus();
    return result;
  }
  // A new exchange never begins while an earlier one is unfinished. The check it holds back did
  // not run: the status keeps what the last cycle said, and no failed cycle is counted per tick.
  if (!engine.VollendeUnterbrochenenAustausch()) {
    result.failed = true;
    engine.BeendeZyklus();
    return result;
  }
  result.checkRan = true;
  result.updateDue = engine.PruefeAufNeueVersion();
  // A build that failed after it was tried waits before it is tried again; the download tells
  // whether the published DLL is that build.
  engine.PruefeZurueckgenommeneVersion(result.updateDue);
  // The update ring holds a new version back until this host has seen it long enough.
  if (result.updateDue && !engine.HaeltRingZurueck()) {
    engine.DownloadeDLLVonWebseite();
    // Always follows the download; a download that failed its checks leaves nothing to restart for.
    engine.StarteIISNeu();
  }
  result.failed = engine.FehlerImZyklus();
  result.installed = engine.InstalliertImZyklus();
  result.passing = result.failed && engine.FehlerVoruebergehend();
  RecordStatus(engine, SummarizeCycle(engine, result.failed));
  engine.BeendeZyklus();
  return result;
}
