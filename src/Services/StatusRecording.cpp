// The summaries the status is written from, taken from the engine after a start or a cycle.
#include "Models/DLLSynchronisierer.h"
#include "Services/OutcomeReporter.h"

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

void RecordStatus(const TDLLSynchronisierer& engine, const CycleSummary& summary) {
  if (OutcomeSink* sink = engine.Outcomes()) sink->CycleEnded(summary);
}
