#pragma once
// The site's stop and start commands: each launched through cmd.exe, waited for and judged by its
// exit code. A stop that fails still lets the exchange go on (renaming aside needs no free DLL);
// a start that fails is tried again, and the site is never left stopped without a trace.

#include <string>

class Clock;
class ProcessLauncher;
class RunLogLines;

// The line of a site that could not be started: a later tick finishes the exchange.
extern const wchar_t* const kStartBleibtOffen;

class SiteControl {
 public:
  static constexpr int kStartVersuche = 3;

  SiteControl(ProcessLauncher* launcher, Clock* clock, std::wstring commandFolder,
              RunLogLines& log);

  // Launches the stop commands of site and pool (when one is named) and waits for each; false
  // only when the first could not even be launched (then nothing was stopped).
  bool Stop(const std::wstring& site, const std::wstring& pool);
  // Starts pool and site, with retries when attempts > 1; true when both commands succeeded.
  bool Start(const std::wstring& site, const std::wstring& pool, int attempts);
  // Launches one command that changes the site, waits at most 60 s and answers why it failed;
  // empty on success (also when what it starts runs already).
  std::wstring Execute(const std::wstring& command);

 private:
  ProcessLauncher* launcher_;
  Clock* clock_;
  std::wstring commandFolder_;
  RunLogLines& log_;
};
