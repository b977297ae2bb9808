// Site stop, exchange of every target DLL, site start, after a download that passed its checks.
//
// The copies are staged beside their targets while the site still runs, so
// the site is down only for the stop command and the swaps, and every target is at any moment
// either the old or the new DLL.

#include "Models/DLLSynchronisierer.h"
#include "core/Exception.h"
#include "core/SiteCommands.h"
#include "platform/FileSystem.h"
#include "platform/ProcessLauncher.h"

namespace {
constexpr unsigned kStopCommandWaitMs = 60000;
constexpr unsigned kBusyTargetRetryMs = 30000;
constexpr unsigned kBusyTargetPauseMs = 250;
constexpr int kShowHidden = 0;  // SW_HIDE

std::wstring StagedPath(const std::wstring& target, std::size_t index) {
  return target + L".neu" + std::to_wstring(index);
}
}  // namespace

void TDLLSynchronisierer::StarteIISNeu() {
  // A download that failed was logged and ends the cycle: the site keeps running.
  if (!FDownloadGeprueft) return;
  FDownloadGeprueft = false;
  try {
    const std::wstring& site = DLLKonfiguration().IISSiteName();
    if (!IsSafeSiteName(site)) throw Exception(L"Unzulässiger Name der IIS-Site.");
    if (!BereiteDLLsVor()) return;
    ProcessLauncher& launcher = *platform_.launcher;
    auto stop = launcher.Launch(L"runas", L"cmd.exe", SiteStopCommand(site),
                                L"c:\\Windows\\system32\\", kShowHidden);
    SetzeProtokollEintrag(L"Halte IIS an.");
    if (stop) stop->WaitForExit(kStopCommandWaitMs);
    TauscheDLLsAus();
    launcher.Launch(L"runas", L"cmd.exe", SiteStartCommand(site), L"c:\\Windows\\system32\\",
                    kShowHidden);
    SetzeProtokollEintrag(L"Starte IIS neu.");
  } catch (...) {
    VerwerfeVorbereiteteDLLs();
    SetzeProtokollEintrag(L"Fehler beim neustarten des IIS.");
  }
}

// Copies the downloaded DLL beside every target while the site still runs. A failure logs its
// target, removes what was staged and answers false: nothing is stopped and no target touched.
bool TDLLSynchronisierer::BereiteDLLsVor() {
  VerwerfeVorbereiteteDLLs();
  const std::wstring quelle = DLLKonfiguration().DLLDownloadpfad();
  const std::vector<std::wstring> ziele = DLLKonfiguration().DLLPfadeListe();
  for (std::size_t i = 0; i < ziele.size(); ++i) {
    try {
      const std::wstring vorbereitet = StagedPath(ziele[i], i);
      FVorbereiteteDLLs.push_back(vorbereitet);
      platform_.files->CopyOver(quelle, vorbereitet);
    } catch (...) {
      VerwerfeVorbereiteteDLLs();
      SetzeProtokollEintrag(L"Fehler beim Austausch folgender DLL: " + ziele[i]);
      return false;
    }
  }
  return true;
}

void TDLLSynchronisierer::TauscheDLLsAus() {
  const std::vector<std::wstring> ziele = DLLKonfiguration().DLLPfadeListe();
  std::size_t i = 0;
  try {
    for (; i < ziele.size(); ++i) {
      TauscheMitWiederholung(FVorbereiteteDLLs.at(i), ziele[i]);
      SetzeProtokollEintrag(L"Tausche folgende DLL: " + ziele[i]);
    }
  } catch (...) {
    SetzeProtokollEintrag(L"Fehler beim Austausch folgender DLL: " + ziele[i]);
  }
  VerwerfeVorbereiteteDLLs();
}

// The stop command may still be releasing the DLL when it ends: a target that another process
// holds open is tried again for a while before the exchange counts as failed.
void TDLLSynchronisierer::TauscheMitWiederholung(const std::wstring& vorbereitet,
                                                 const std::wstring& ziel) {
  Clock& clock = *platform_.clock;
  const auto ende = clock.TickMilliseconds() + kBusyTargetRetryMs;
  for (;;) {
    try {
      platform_.files->ReplaceWith(vorbereitet, ziel);
      return;
    } catch (const FileBusyError&) {
      if (clock.TickMilliseconds() >= ende) throw;
      clock.Wait(kBusyTargetPauseMs);
    }
  }
}

void TDLLSynchronisierer::VerwerfeVorbereiteteDLLs() noexcept {
  for (const auto& datei : FVorbereiteteDLLs) platform_.files->RemoveIfExists(datei);
  FVorbereiteteDLLs.clear();
}
