#pragma once
// How the site takes up the new DLL in this cycle (IISMODUS): a recycle of its pools when their
// survey allows it, otherwise a stop and a start, after which workers that kept an old copy are
// recycled. Both prove what runs afterwards.

#include <memory>
#include <string>

#include "core/AppPoolRecycle.h"

class AppPoolRecycler;
class JournalFile;
class LoadProof;
class RunLogLines;
class SiteControl;
class SiteSwitch;
class TDLLKonfiguration;
struct EnginePlatform;

// A recycler that logs to log and launches the commands that change the site through site.
std::unique_ptr<AppPoolRecycler> MakeRecycler(const EnginePlatform& platform, RunLogLines& log,
                                              SiteControl& site);

struct SwitchUnits {
  const EnginePlatform& platform;
  const TDLLKonfiguration& konfiguration;
  RunLogLines& log;
  JournalFile& journal;
  SiteControl& site;
  LoadProof& proof;
  std::string downloadSha256;  // the verified download's, for the recycle's load probe
};

// mode Recycle: surveys the pools and logs why the site is stopped instead when it is.
std::unique_ptr<SiteSwitch> ChooseSiteSwitch(SiteMode mode, const SwitchUnits& units);
