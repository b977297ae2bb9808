// Download of the new DLL into the download folder, checked before anything on the site changes.
//
// The site is only ever stopped for a DLL that downloaded completely within the limits, over a
// channel that never left https when it began with it, is a DLL of the targets' machine type,
// carries an allowed signer's signature when signers are pinned, and has the published version;
// every other download ends the cycle with its reason in the run log.

#include "Models/DLLSynchronisierer.h"
#include "platform/OutcomeSink.h"
#include "core/DownloadGuard.h"
#include "core/Exception.h"
#include "core/PortableExecutable.h"
#include "core/SignaturePolicy.h"
#include "core/VersionCompare.h"
#include "platform/Downloader.h"
#include "platform/FileSystem.h"
#include "platform/SignatureVerifier.h"

namespace {
std::wstring DownloadTempPath(const std::wstring& dllPath) { return dllPath + L".download"; }
}  // namespace

void TDLLSynchronisierer::DownloadeDLLVonWebseite() {
  FGepruefteDLL.reset();
  const TDLLKonfiguration& konfiguration = DLLKonfiguration();
  FileSystem& files = *platform_.files;
  const std::wstring temp = DownloadTempPath(konfiguration.DLLDownloadpfad());
  try {
    if (!files.DirectoryExists(konfiguration.Downloadpfad())) {
      try {
        SetzeProtokollEintrag(L"Erstelle Verzeichnis \"Download\".");
        files.CreateDirectories(konfiguration.Downloadpfad());
      } catch (...) {
        SetzeProtokollEintrag(L"Fehler beim erstellen des Verzeichnisses \"Download\".");
      }
    }
    SetzeProtokollEintrag(L"Downloade DLL von der Webseite.");
    files.RemoveIfExists(temp);
    RequireWebAddress(konfiguration.URLKorvalAppServerDLL());
    DownloadLimits limits;
    limits.abortRequested = platform_.stopRequested;
    platform_.downloader->Download(konfiguration.URLKorvalAppServerDLL(), temp, limits);
    // Held from here to the end of the exchange: the bytes checked are the bytes installed.
    std::unique_ptr<HeldFile> gehalten = HalteDownload(temp);
    PruefeHeruntergeladeneDLL(temp);
    FGepruefterHash = gehalten->Sha256();
    files.ReplaceWith(temp, konfiguration.DLLDownloadpfad());
    FGepruefteDLL = std::move(gehalten);
  } catch (const Exception& e) {
    files.RemoveIfExists(temp);
    SetzeProtokollEintrag(L"Fehler beim downloaden der DLL: " + e.Message());
    ReportOutcome(platform_.outcomes, Outcome::DownloadRefused, {e.Message()});
  }
}

std::unique_ptr<HeldFile> TDLLSynchronisierer::HalteDownload(const std::wstring& datei) {
  try {
    return platform_.files->HoldAgainstWriters(datei);
  } catch (const Exception&) {
    throw Exception(L"Es wurde keine Datei empfangen (" +
                    DLLKonfiguration().URLKorvalAppServerDLL() + L").");
  }
}

// Raises Exception with the reason when the file is not the DLL that the version check found.
void TDLLSynchronisierer::PruefeHeruntergeladeneDLL(const std::wstring& datei) {
  const std::wstring& url = DLLKonfiguration().URLKorvalAppServerDLL();
  std::string head;
  try {
    head = platform_.files->ReadHead(datei, kPeHeadBytes);
  } catch (const Exception&) {
    throw Exception(L"Es wurde keine Datei empfangen (" + url + L").");
  }
  if (!IsDllImage(head)) {
    throw Exception(L"Die empfangene Datei ist keine DLL (" + url + L").");
  }
  PruefeMaschinentyp(head);
  PruefeSignatur(datei);
  const std::wstring version = GetDLLVersionsnummerLokal(datei);
  if (version.empty()) {
    throw Exception(L"Die Version der empfangenen DLL kann nicht gelesen werden.");
  }
  if (!IsSameVersion(version, FOnlineVersion)) {
    throw Exception(L"Die empfangene DLL hat die Version " + version + L", erwartet wurde \"" +
                    FOnlineVersion + L"\".");
  }
}

// An x86 DLL must never replace an x64 one: the first target whose image can be read decides.
void TDLLSynchronisierer::PruefeMaschinentyp(const std::string& kopf) {
  const std::optional<std::uint16_t> empfangen = PeMachineType(kopf);
  for (const std::wstring& ziel : DLLKonfiguration().DLLPfadeListe()) {
    std::optional<std::uint16_t> installiert;
    try {
      installiert = PeMachineType(platform_.files->ReadHead(ziel, kPeHeadBytes));
    } catch (const Exception&) {
      continue;
    }
    if (!installiert) continue;
    if (empfangen != installiert) {
      throw Exception(L"Die empfangene DLL ist für " + MachineTypeName(empfangen.value_or(0)) +
                      L" gebaut, die installierte DLL für " + MachineTypeName(*installiert) + L".");
    }
    return;
  }
}

// Without pinned signers nothing is required; with them, only an allowed signer's valid
// signature passes.
void TDLLSynchronisierer::PruefeSignatur(const std::wstring& datei) {
  const std::vector<std::wstring>& pins = DLLKonfiguration().Signaturschluessel();
  if (pins.empty()) return;
  if (platform_.signatures == nullptr) throw Exception(L"Keine Signaturprüfung verfügbar.");
  const std::optional<std::wstring> grund =
      SignatureRefusal(platform_.signatures->Inspect(datei), pins);
  if (grund) throw Exception(*grund);
}
