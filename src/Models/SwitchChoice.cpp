#include "Models/SwitchChoice.h"

#include "Models/AppPoolRecycler.h"
#include "Models/DLLKonfiguration.h"
#include "Models/EnginePlatform.h"
#include "Models/RecycleSwitch.h"
#include "Models/RunLog.h"
#include "Models/SiteControl.h"
#include "Models/StopStartSwitch.h"

std::unique_ptr<AppPoolRecycler> MakeRecycler(const EnginePlatform& platform, RunLogLines& log,
                                              SiteControl& site) {
  AppPoolRecycler::Hooks hooks;
  hooks.log = [&log](const std::wstring& zeile) { log.Log(zeile); };
  hooks.fail = [&log](const std::wstring& zeile, const std::wstring& ursache) {
    log.Fail(zeile, ursache);
  };
  hooks.execute = [&site](const std::wstring& befehl) { return site.Execute(befehl); };
  return std::make_unique<AppPoolRecycler>(platform.commands, *platform.clock, hooks);
}

std::unique_ptr<SiteSwitch> ChooseSiteSwitch(SiteMode mode, const SwitchUnits& u) {
  const TDLLKonfiguration& k = u.konfiguration;
  if (mode == SiteMode::Recycle) {
    std::unique_ptr<AppPoolRecycler> recycler = MakeRecycler(u.platform, u.log, u.site);
    const ModeDecision decision =
        recycler->Survey(SiteMode::Recycle, k.IISSiteName(), k.IISAppPool());
    if (decision.recycle) {
      return std::make_unique<RecycleSwitch>(
          std::move(recycler), u.platform.loadProbe, *u.platform.files, u.journal, u.log,
          RecycleSwitch::ProbeCopy{k.DLLDownloadpfad(), u.downloadSha256}, u.proof);
    }
    u.log.Log(L"Wechsle auf Anhalten und Starten: " + decision.reason);
  }
  auto halt = std::make_unique<StopStartSwitch>(u.site, u.journal, u.log, u.platform.outcomes,
                                                k.IISSiteName(), k.IISAppPool());
  const EnginePlatform& platform = u.platform;
  RunLogLines& log = u.log;
  SiteControl& site = u.site;
  halt->ProveWith(&u.proof, [&platform, &log, &site] { return MakeRecycler(platform, log, site); });
  return halt;
}
