#include "Models/SiteControl.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Models/RunLog.h"
#include "core/Exception.h"
#include "core/SiteCommands.h"
#include "platform/Clock.h"
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

SiteControl::SiteControl(ProcessLauncher* launcher, Clock* clock, std::wstring commandFolder,
                         RunLogLines& log)
    : launcher_(launcher), clock_(clock), commandFolder_(std::move(commandFolder)), log_(log) {}

std::wstring SiteControl::Execute(const std::wstring& command) {
  std::unique_ptr<LaunchedProcess> process =
      launcher_->Launch(L"runas", L"cmd.exe", command, commandFolder_, kShowHidden);
  return Outcome(process.get(), command, kAlreadyRunning);
}

bool SiteControl::Stop(const std::wstring& site, const std::wstring& pool) {
  std::vector<SiteCommand> commands = {{SiteStopCommand(site), L"Halte IIS an."}};
  if (!pool.empty()) commands.push_back({AppPoolStopCommand(pool), L"Halte Anwendungspool an."});
  for (std::size_t i = 0; i < commands.size(); ++i) {
    std::unique_ptr<LaunchedProcess> process;
    try {
      process = launcher_->Launch(L"runas", L"cmd.exe", commands[i].parameters, commandFolder_,
                                  kShowHidden);
    } catch (const Exception& e) {
      if (i == 0) {
        // Nothing was stopped: the caller ends the exchange before any swap.
        log_.Fail(L"Fehler beim neustarten des IIS.", e.Message());
        return false;
      }
      log_.Fail(L"Fehler beim anhalten des IIS.", e.Message());
      continue;
    }
    log_.Log(commands[i].line);
    const std::wstring reason = Outcome(process.get(), commands[i].parameters, kNotActive);
    if (!reason.empty()) log_.Fail(L"Fehler beim anhalten des IIS.", reason);
  }
  return true;
}

bool SiteControl::Start(const std::wstring& site, const std::wstring& pool, int attempts) {
  std::vector<SiteCommand> open;
  if (!pool.empty()) open.push_back({AppPoolStartCommand(pool), L"Starte Anwendungspool."});
  open.push_back({SiteStartCommand(site), L"Starte IIS neu."});
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) {
      const unsigned pause = kStartPausesMs[attempt - 1 < 1 ? attempt - 1 : 1];
      log_.Log(L"Neuer Startversuch in " + std::to_wstring(pause / 1000) + L" Sekunden.");
      clock_->Wait(pause);
    }
    // A command that succeeded is not run again: starting a running pool fails.
    while (!open.empty()) {
      std::wstring reason;
      try {
        reason = Execute(open.front().parameters);
      } catch (const Exception& e) {
        reason = e.Message();
      }
      if (!reason.empty()) {
        log_.Fail(L"Fehler beim neustarten des IIS.", reason);
        break;
      }
      log_.Log(open.front().line);
      open.erase(open.begin());
    }
    if (open.empty()) return true;
  }
  return false;
}
