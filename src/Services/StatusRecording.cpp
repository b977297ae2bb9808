// The summaries the status is written from, taken from the engine after a start or a cycle.
#include "Models/DLLSynchronisierer.h"
#include "Services/OutcomeReporter.h"
#include "platform/FileSystem.h"

namespace {

CycleSummary Summary(const TDLLSynchronisierer& engine) {
  const TDLLKonfiguration& konfiguration = engine.DLLKonfiguration();
  CycleSummary summary;
  summary.targets = konfiguration.DLLPfadeListe();
  summary.runLogPath = konfiguration.Protokollpfad();
  summary.metricsPath = konfiguration.PrometheusDatei();
  summary.runLogFolderTrusted = !engine.ProtokollOrdnerAbgelehnt();
  summary.ringDelayHours = konfiguration.Verzoegerung();
  summary.rolledBack = engine.ZurueckgenommenerBuildWartet();
  return summary;
}

}  // namespace

CycleSummary SummarizeStart(const TDLLSynchronisierer& engine) {
  CycleSummary summary = Summary(engine);
  summary.atStart = true;
  return summary;
}

CycleSummary SummarizeCycle(const TDLLSynchronisierer& engine, bool failed) {
  CycleSummary summary = Summary(engine);
  summary.failed = failed;
  summary.onlineVersion = engine.OnlineVersion();
  bool current = !engine.LetzterBefund().empty();
  for (const ZielBefund& befund : engine.LetzterBefund()) current = current && !befund.aelter;
  summary.release = engine.Releasestand(current);
  summary.patchSaved = engine.PatchErsparnis();
  return summary;
}

// Status.json and the metrics are written only into folders proven and held for the write, so
// that a folder swapped for a link in between takes none of SYSTEM's writes elsewhere.
void RecordStatus(TDLLSynchronisierer& engine, CycleSummary summary) {
  OutcomeSink* sink = engine.Outcomes();
  if (sink == nullptr) return;
  std::unique_ptr<HeldFolder> metricsFolder;
  try {
    // The metrics' failure line is a write of the run log, which outside a cycle lets go of
    // the run log's folder: the run log's folder is held last.
    if (!summary.metricsPath.empty()) metricsFolder = engine.HalteMetrikOrdner();
    summary.runLogFolderTrusted = engine.HalteProtokollOrdner();
  } catch (...) {
    summary.runLogFolderTrusted = false;
  }
  if (!metricsFolder) summary.metricsPath.clear();
  sink->CycleEnded(summary);
}
