// The site's stop and start commands: each launched through cmd.exe, waited for and judged by its
// exit code. A stop that fails still lets the exchange go on (renaming aside needs no free DLL);
// a start that fails is tried again, and the site is never left stopped without a trace.

#include "Models/DLLSynchronisierer.h"
#include "Models/OutcomeDetails.h"
#include "core/Exception.h"
#include "core/SiteCommands.h"
#include "platform/ProcessLauncher.h"

const wchar_t* const kStartBleibtOffen =
    L"Der IIS bleibt angehalten; der nächste Timer-Tick versucht den Start erneut.";

namespace {
constexpr unsigned kCommandWaitMs = 60000;
constexpr int kShowHidden = 0;  // SW_HIDE
// The pauses before the second and the third start.
constexpr unsigned kStartPausesMs[] = {5000, 15000};

// appcmd ends with the Win32 code of its failure. A site or pool that already is in the state a
// command asks for (started by hand after a failed start, say) is no failure: otherwise a start
// retried at every tick could never succeed again.
constexpr std::uint32_t kAlreadyRunning = 1056;  // ERROR_SERVICE_ALREADY_RUNNING
constexpr std::uint32_t kNotActive = 1062;       // ERROR_SERVICE_NOT_ACTIVE

struct SiteCommand {
  std::wstring parameters;
  const wchar_t* line;  // logged once the command is under way (stop) or has succeeded (start)
};

// Waits for the launched command; answers why it failed, or the empty text on success.
std::wstring Outcome(LaunchedProcess* process, const std::wstring& command,
                     std::uint32_t alsoSuccess) {
  const std::wstring quoted = L"Der Befehl \"cmd.exe " + command + L"\"";
  if (!process || !process->WaitForExit(kCommandWaitMs)) {
    return quoted + L" ist nach 60 Sekunden nicht beendet.";
  }
  const std::optional<std::uint32_t> code = process->ExitCode();
  if (!code) return quoted + L" hat keinen Exit-Code geliefert.";
  if (*code != 0 && *code != alsoSuccess) {
    return quoted + L" endete mit dem Code " + std::to_wstring(*code) + L".";
  }
  return L"";
}
}  // namespace

std::wstring TDLLSynchronisierer::FuehreBefehlAus(const std::wstring& befehl) {
  std::unique_ptr<LaunchedProcess> prozess =
      platform_.launcher->Launch(L"runas", L"cmd.exe", befehl, platform_.commandFolder, kShowHidden);
  return Outcome(prozess.get(), befehl, kAlreadyRunning);
}

bool TDLLSynchronisierer::HalteSiteAn(const std::wstring& site, const std::wstring& pool) {
  std::vector<SiteCommand> befehle = {{SiteStopCommand(site), L"Halte IIS an."}};
  if (!pool.empty()) befehle.push_back({AppPoolStopCommand(pool), L"Halte Anwendungspool an."});
  for (std::size_t i = 0; i < befehle.size(); ++i) {
    std::unique_ptr<LaunchedProcess> prozess;
    try {
      prozess = platform_.launcher->Launch(L"runas", L"cmd.exe", befehle[i].parameters,
                                           platform_.commandFolder, kShowHidden);
    } catch (const Exception& e) {
      if (i == 0) {
        // Nothing was stopped: the caller ends the exchange before any swap.
        MeldeFehler(L"Fehler beim neustarten des IIS.", e.Message());
        return false;
      }
      MeldeFehler(L"Fehler beim anhalten des IIS.", e.Message());
      continue;
    }
    SetzeProtokollEintrag(befehle[i].line);
    const std::wstring ursache = Outcome(prozess.get(), befehle[i].parameters, kNotActive);
    if (!ursache.empty()) {
      MeldeFehler(L"Fehler beim anhalten des IIS.", ursache);
    }
  }
  return true;
}

bool TDLLSynchronisierer::StarteSite(const std::wstring& site, const std::wstring& pool,
                                     int versuche) {
  std::vector<SiteCommand> offen;
  if (!pool.empty()) offen.push_back({AppPoolStartCommand(pool), L"Starte Anwendungspool."});
  offen.push_back({SiteStartCommand(site), L"Starte IIS neu."});
  for (int versuch = 0; versuch < versuche; ++versuch) {
    if (versuch > 0) {
      const unsigned pause = kStartPausesMs[versuch - 1 < 1 ? versuch - 1 : 1];
      SetzeProtokollEintrag(L"Neuer Startversuch in " + std::to_wstring(pause / 1000) +
                            L" Sekunden.");
      platform_.clock->Wait(pause);
    }
    // A command that succeeded is not run again: starting a running pool fails.
    while (!offen.empty()) {
      std::wstring ursache;
      try {
        ursache = FuehreBefehlAus(offen.front().parameters);
      } catch (const Exception& e) {
        ursache = e.Message();
      }
      if (!ursache.empty()) {
        MeldeFehler(L"Fehler beim neustarten des IIS.", ursache);
        break;
      }
      SetzeProtokollEintrag(offen.front().line);
      offen.erase(offen.begin());
    }
    if (offen.empty()) return true;
  }
  return false;
}

bool TDLLSynchronisierer::StarteSiteUndVermerke(int versuche) {
  if (!StarteSite(FPlan.site, FPlan.pool, versuche)) {
    SetzeProtokollEintrag(kStartBleibtOffen);
    MeldeSiteBleibtAngehalten(platform_.outcomes, FPlan.site, FProtokollListe);
    return false;
  }
  VermerkeImJournal(JournalStep::Started);
  return true;
}
