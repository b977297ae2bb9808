// Measures how long the IIS site is down during an update: from the launch of the site stop
// command to the launch of the site start command, next to the stop command's own duration and
// the time a plain copy of the DLL onto every target takes; then, in a second update whose last
// target is held open for good, how long putting every copy back takes, from the failed swap to
// the launch of the site start. Runs the real engine with the real Win32 seams; the site
// commands go to whatever appcmd the machine has (a stand-in under test).
//   site_downtime_win32.exe FOLDER     (FOLDER holds KORVAL_Update_Service.ini and old.dll,
//                                       a copy of the older DLL the targets hold at the start)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "Models/DLLSynchronisierer.h"
#include "core/Exception.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Platform.h"

namespace {
using Moment = std::chrono::steady_clock::time_point;

double MillisecondsBetween(Moment from, Moment to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Passes launches on to the real launcher and notes when each was launched and seen to end.
class TimingLauncher : public ProcessLauncher {
 public:
  explicit TimingLauncher(ProcessLauncher& real) : real_(real) {}
  std::unique_ptr<LaunchedProcess> Launch(const std::wstring& verb, const std::wstring& file,
                                          const std::wstring& parameters,
                                          const std::wstring& directory, int showCommand) override {
    const bool stop = parameters.find(L"appcmd stop") != std::wstring::npos;
    (stop ? stopLaunched : startLaunched) = std::chrono::steady_clock::now();
    if (stop) swapFailed = Moment();
    auto process = real_.Launch(verb, file, parameters, directory, showCommand);
    return stop ? std::make_unique<TimedProcess>(std::move(process), stopEnded)
                : std::move(process);
  }

  Moment stopLaunched, stopEnded, startLaunched, swapFailed;

 private:
  class TimedProcess : public LaunchedProcess {
   public:
    TimedProcess(std::unique_ptr<LaunchedProcess> process, Moment& ended)
        : process_(std::move(process)), ended_(ended) {}
    bool WaitForExit(unsigned milliseconds) override {
      bool ended = process_->WaitForExit(milliseconds);
      ended_ = std::chrono::steady_clock::now();
      return ended;
    }
    std::optional<std::uint32_t> ExitCode() override { return process_->ExitCode(); }

   private:
    std::unique_ptr<LaunchedProcess> process_;
    Moment& ended_;
  };
  ProcessLauncher& real_;
};

double PlainCopyMilliseconds(const TDLLKonfiguration& konfiguration) {
  const Moment begin = std::chrono::steady_clock::now();
  for (const auto& target : konfiguration.DLLPfadeListe()) {
    CopyFileW(konfiguration.DLLDownloadpfad().c_str(), (target + L".plaincopy").c_str(), FALSE);
  }
  const Moment end = std::chrono::steady_clock::now();
  for (const auto& target : konfiguration.DLLPfadeListe())
    DeleteFileW((target + L".plaincopy").c_str());
  return MillisecondsBetween(begin, end);
}

bool RunUpdate(Win32Platform& platform) {
  TDLLSynchronisierer engine(platform.Engine());
  if (!engine.PruefeAufNeueVersion()) {
    std::fprintf(stderr, "the version check found no update; see the run log\n");
    return false;
  }
  engine.DownloadeDLLVonWebseite();
  engine.StarteIISNeu();
  return true;
}

// Puts the older DLL on every target again and holds the last one open with no sharing, so
// that its swap fails after the others were made.
UniqueFile PrepareFailingUpdate(const std::wstring& folder, const TDLLKonfiguration& k) {
  for (const auto& target : k.DLLPfadeListe()) {
    CopyFileW((folder + L"old.dll").c_str(), target.c_str(), FALSE);
  }
  return UniqueFile(CreateFileW(k.DLLPfadeListe().back().c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: site_downtime_win32.exe FOLDER\n");
    return 2;
  }
  std::string narrow = argv[1];
  std::wstring folder(narrow.begin(), narrow.end());
  if (folder.back() != L'\\') folder += L'\\';
  Win32Platform platform(folder);
  TimingLauncher launcher(*platform.Engine().launcher);
  platform.Engine().launcher = &launcher;
  platform.Engine().protokollEcho = [&launcher](const std::wstring& line) {
    if (line.find(L": Fehler beim Austausch folgender DLL: ") != std::wstring::npos) {
      launcher.swapFailed = std::chrono::steady_clock::now();
    }
  };
  try {
    if (!RunUpdate(platform) || launcher.swapFailed != Moment()) {
      std::fprintf(stderr, "the update did not complete; see the run log\n");
      return 1;
    }
    const double downtime = MillisecondsBetween(launcher.stopLaunched, launcher.startLaunched);
    const double stopCommand = MillisecondsBetween(launcher.stopLaunched, launcher.stopEnded);
    TDLLSynchronisierer probe(platform.Engine());
    const TDLLKonfiguration& konfiguration = probe.DLLKonfiguration();
    const double plainCopy = PlainCopyMilliseconds(konfiguration);

    UniqueFile held = PrepareFailingUpdate(folder, konfiguration);
    if (!held || !RunUpdate(platform) || launcher.swapFailed == Moment()) {
      std::fprintf(stderr, "the update with a held last target did not fail; see the run log\n");
      return 1;
    }
    const double restore = MillisecondsBetween(launcher.swapFailed, launcher.startLaunched);
    std::printf("targets:                                  %zu\n",
                konfiguration.DLLPfadeListe().size());
    std::printf("plain copy of the DLL onto every target:  %8.1f ms\n", plainCopy);
    std::printf("stop command's own duration:              %8.1f ms\n", stopCommand);
    std::printf("downtime (stop launched to start launched): %6.1f ms\n", downtime);
    std::printf("downtime beyond the stop command:         %8.1f ms (goal: under 20 ms)\n",
                downtime - stopCommand);
    std::printf("putting every copy back after the last failed: %5.1f ms (goal: under 500 ms)\n",
                restore);
    return downtime - stopCommand < 20.0 && restore < 500.0 ? 0 : 3;
  } catch (const Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
}
