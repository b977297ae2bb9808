// Measures how long the IIS site is down during an update: from the launch of the site stop
// command to the launch of the site start command, next to the stop command's own duration and
// the time a plain copy of the DLL onto every target takes. Runs the real engine with the real
// Win32 seams; the site commands go to whatever appcmd the machine has (a stand-in under test).
//   site_downtime_win32.exe FOLDER     (FOLDER holds KORVAL_Update_Service.ini)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "Models/DLLSynchronisierer.h"
#include "core/Exception.h"
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
    auto process = real_.Launch(verb, file, parameters, directory, showCommand);
    return stop ? std::make_unique<TimedProcess>(std::move(process), stopEnded)
                : std::move(process);
  }

  Moment stopLaunched, stopEnded, startLaunched;

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
  try {
    TDLLSynchronisierer engine(platform.Engine());
    if (!engine.PruefeAufNeueVersion()) {
      std::fprintf(stderr, "the version check found no update; see the run log\n");
      return 1;
    }
    engine.DownloadeDLLVonWebseite();
    engine.StarteIISNeu();
    const std::wstring last = engine.ProtokollListe().back();
    if (last.find(L": Starte IIS neu.") == std::wstring::npos) {
      std::fprintf(stderr, "the update did not complete; see the run log\n");
      return 1;
    }
    const double downtime = MillisecondsBetween(launcher.stopLaunched, launcher.startLaunched);
    const double stopCommand = MillisecondsBetween(launcher.stopLaunched, launcher.stopEnded);
    const double plainCopy = PlainCopyMilliseconds(engine.DLLKonfiguration());
    std::printf("targets:                                  %zu\n",
                engine.DLLKonfiguration().DLLPfadeListe().size());
    std::printf("plain copy of the DLL onto every target:  %8.1f ms\n", plainCopy);
    std::printf("stop command's own duration:              %8.1f ms\n", stopCommand);
    std::printf("downtime (stop launched to start launched): %6.1f ms\n", downtime);
    std::printf("downtime beyond the stop command:         %8.1f ms (goal: under 100 ms)\n",
                downtime - stopCommand);
    return downtime - stopCommand < 100.0 ? 0 : 3;
  } catch (const Exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
}
