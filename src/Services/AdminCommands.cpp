#include "Services/AdminCommands.h"

#include <memory>
#include <optional>

#include "Services/CycleLockGuard.h"
#include "Services/FleetSettings.h"
#include "Services/ServiceMessages.h"
#include "core/CaughtError.h"
#include "core/StatusReport.h"
#include "platform/ConsoleOutput.h"
#include "platform/LogFileStore.h"

namespace {

// The run log of a check that must leave no trace.
class DiscardingLogFileStore : public LogFileStore {
 public:
  FileIdentity Rewrite(const std::wstring&, const std::string&) override { return next(); }
  std::optional<FileIdentity> AppendIfUnchanged(const std::wstring&, const FileIdentity&,
                                                const std::string&) override {
    return next();
  }
  bool MoveIfPresent(const std::wstring&, const std::wstring&) override { return false; }
  bool WritesFiles() const override { return false; }

 private:
  FileIdentity next() { return FileIdentity{0, 0, ++writes_, 0}; }
  std::uint64_t writes_ = 0;
};

std::wstring TargetLine(const ZielBefund& befund) {
  std::wstring line = L"DLL " + befund.pfad + L": ";
  if (befund.version.empty()) return line + L"Version nicht lesbar";
  line += L"Version " + befund.version;
  if (befund.aelter) return line + L" (älter, wird ersetzt)";
  if (befund.neuer) return line + L" (neuer, bleibt)";
  return line + L" (aktuell)";
}

// Builds the engine as the service's start does; a configuration value that does not convert is
// printed with the text the event log gets for a failed start.
std::unique_ptr<TDLLSynchronisierer> CreateEngine(const EnginePlatform& platform,
                                                  ConsoleOutput& out) {
  try {
    return std::make_unique<TDLLSynchronisierer>(platform);
  } catch (...) {
    out.WriteLine(ServiceFailedText(L"start", CaughtErrorMessage()));
    return nullptr;
  }
}

std::wstring RejectedVersionLine(const ServiceRecords& records, const std::wstring& retryAt) {
  const std::wstring when =
      records.rejectedAtUnix > 0 ? L"ab " + retryAt : L"einen Tag nach seiner nächsten Prüfung";
  return L"Zurückgenommene Version: " + records.rejectedVersion + L" (SHA-256 " +
         std::wstring(records.rejectedSha256.begin(), records.rejectedSha256.end()) +
         L"); der Dienst versucht denselben Build " + when +
         L" erneut, einen neuen Build sofort, /UPDATE versucht es noch einmal.";
}

EnginePlatform Echoing(EnginePlatform platform, ConsoleOutput& out) {
  platform.protokollEcho = [&out](const std::wstring& line) { out.WriteLine(line); };
  return platform;
}

}  // namespace

int CheckExitCode(bool updateDue, bool failed) {
  if (failed) return kExitFailed;
  return updateDue ? kExitUpdateDue : kExitOk;
}

int UpdateExitCode(const UpdateCycleResult& result) {
  return result.failed ? kExitFailed : kExitOk;
}

std::vector<std::wstring> CheckReport(const std::wstring& onlineVersion,
                                      const std::vector<ZielBefund>& befunde,
                                      std::size_t targetCount, bool updateDue, bool failed) {
  std::vector<std::wstring> lines;
  lines.push_back(L"Online-Version: " +
                  (onlineVersion.empty() ? std::wstring(L"nicht abrufbar") : onlineVersion));
  if (targetCount == 0) lines.push_back(L"Keine Ziel-DLL konfiguriert (DLLPFAD1 bis DLLPFAD30).");
  for (const ZielBefund& befund : befunde) lines.push_back(TargetLine(befund));
  if (failed) {
    lines.push_back(L"Ergebnis: Prüfung fehlgeschlagen (siehe die Zeilen mit \"Fehler\").");
  } else if (targetCount == 0) {
    lines.push_back(L"Ergebnis: Nichts geprüft, keine Ziel-DLL konfiguriert.");
  } else if (updateDue) {
    lines.push_back(L"Ergebnis: Aktualisierung fällig.");
  } else {
    lines.push_back(L"Ergebnis: Alle Kopien sind aktuell.");
  }
  return lines;
}

int RunCheckCommand(EnginePlatform platform, ConsoleOutput& out) {
  DiscardingLogFileStore discarded;
  platform.logFiles = &discarded;
  platform.downloader = nullptr;
  platform.launcher = nullptr;
  platform.outcomes = nullptr;
  std::unique_ptr<TDLLSynchronisierer> engine = CreateEngine(Echoing(platform, out), out);
  if (!engine) return kExitFailed;
  engine->NurPruefen();
  engine->BeginneZyklus();
  const bool updateDue = engine->PruefeAufNeueVersion();
  const bool failed = engine->FehlerImZyklus();
  if (updateDue) engine->HaeltRingZurueck();
  out.WriteLine(ZeitplanZeile(engine->DLLKonfiguration(), engine->Maschinenkennung()));
  for (const std::wstring& line :
       CheckReport(engine->OnlineVersion(), engine->LetzterBefund(),
                   engine->DLLKonfiguration().DLLPfadeListe().size(), updateDue, failed)) {
    out.WriteLine(line);
  }
  for (const std::wstring& line : ReleaseLines(engine->Releasestand(!updateDue && !failed))) {
    out.WriteLine(line);
  }
  const ServiceRecords records = engine->LadeAufzeichnungen();
  if (!records.rejectedVersion.empty()) {
    out.WriteLine(RejectedVersionLine(records, engine->ErneuterVersuchAb(records)));
  }
  // Nothing configured is no "all current": a script must not take it for a healthy server.
  return CheckExitCode(updateDue, failed || engine->DLLKonfiguration().DLLPfadeListe().empty());
}

int RunUpdateCommand(EnginePlatform platform, CycleLock& lock, ConsoleOutput& out,
                     unsigned lockWaitMs) {
  std::unique_ptr<TDLLSynchronisierer> engine = CreateEngine(Echoing(platform, out), out);
  if (!engine) return kExitFailed;
  try {
    // The lock lives in the download folder: it is made and proven first.
    lock.Claim(engine->DLLKonfiguration().Downloadpfad());
    if (!engine->BereiteDownloadOrdnerVor()) {
      out.WriteLine(L"Ergebnis: Fehlgeschlagen (siehe die Zeilen mit \"Fehler\").");
      return kExitFailed;
    }
    std::optional<CycleLockGuard> guard;
    guard.emplace(lock, 0);
    if (!guard->Held()) {
      out.WriteLine(L"Ein anderer Aktualisierungszyklus läuft; warte bis zu " +
                    std::to_wstring(lockWaitMs / 60000) + L" Minuten.");
      guard.emplace(lock, lockWaitMs);
      if (!guard->Held()) {
        out.WriteLine(L"Abgebrochen: der andere Aktualisierungszyklus ist nicht beendet.");
        return kExitFailed;
      }
    }
    // The administrator's decision: a version the status page rejected is tried once more, and
    // the update ring does not wait.
    engine->ErlaubeZurueckgenommeneVersion();
    engine->UebergeheRing();
    const UpdateCycleResult result = RunUpdateCycle(*engine);
    // Due but not installed without a failure: the publisher's rollout holds it back.
    out.WriteLine(result.failed ? L"Ergebnis: Fehlgeschlagen (siehe die Zeilen mit \"Fehler\")."
                  : result.installed ? L"Ergebnis: Aktualisierung ausgeführt."
                  : result.updateDue
                      ? L"Ergebnis: Aktualisierung zurückgehalten (siehe das Protokoll)."
                      : L"Ergebnis: Nichts zu tun, alle Kopien sind aktuell.");
    return UpdateExitCode(result);
  } catch (...) {
    out.WriteLine(L"Abgebrochen: " + CaughtErrorMessage());
    return kExitFailed;
  }
}
