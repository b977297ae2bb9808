// Download of the new DLL into the download folder, checked before anything on the site changes.
//
// The site is only ever stopped for a DLL that downloaded completely within the limits, over a
// channel that never left https when it began with it, is a DLL of the targets' machine type,
// carries an allowed signer's signature when signers are pinned, and has the published version;
// every other download ends the cycle with its reason in the run log.

#include "Models/DLLSynchronisierer.h"
#include "core/DateTimeFormat.h"
#include "core/DownloadGuard.h"
#include "core/Exception.h"
#include "core/PortableExecutable.h"
#include "core/SignaturePolicy.h"
#include "core/VersionCompare.h"
#include "platform/Downloader.h"
#include "platform/FileSystem.h"
#include "platform/OutcomeSink.h"
#include "platform/SignatureVerifier.h"

void TDLLSynchronisierer::DownloadeDLLVonWebseite() {
  GibDownloadFrei();
  const TDLLKonfiguration& konfiguration = DLLKonfiguration();
  FileSystem& files = *platform_.files;
  // A name of its own for every transfer: one that was abandoned and still writes can never
  // write into the file of the next.
  const std::wstring temp = konfiguration.DLLDownloadpfad() + L"." +
                            UtcDigits(platform_.clock->UtcNow()) + L"-" +
                            std::to_wstring(++FDownloadNummer) + L".download";
  try {
    if (!files.DirectoryExists(konfiguration.Downloadpfad())) {
      try {
        SetzeProtokollEintrag(L"Erstelle Verzeichnis \"Download\".");
        files.CreateDirectories(konfiguration.Downloadpfad());
      } catch (...) {
        SetzeProtokollEintrag(L"Fehler beim erstellen des Verzeichnisses \"Download\".");
      }
    }
    if (!SchuetzeDownloadOrdner()) return;
    SetzeProtokollEintrag(L"Downloade DLL von der Webseite.");
    files.RemoveIfExists(temp);
    RequireWebAddress(konfiguration.URLKorvalAppServerDLL());
    DownloadLimits limits;
    limits.abortRequested = platform_.stopRequested;
    LadeHerunter(konfiguration.URLKorvalAppServerDLL(), temp, limits);
    // Held from before the first check to the end of the exchange, so that nobody can write,
    // rename or replace it: the bytes checked are the bytes installed.
    std::unique_ptr<HeldFile> gehalten = HalteDownload(temp);
    PruefeHeruntergeladeneDLL(temp, *gehalten);
    FGepruefterHash = gehalten->Sha256();
    FGepruefteDLL = std::move(gehalten);
    FGepruefterPfad = temp;
  } catch (const Exception& e) {
    files.RemoveIfExists(temp);
    SetzeProtokollEintrag(L"Fehler beim downloaden der DLL: " + e.Message());
    if (platform_.outcomes) platform_.outcomes->Report(Outcome::DownloadRefused, {e.Message()});
  }
}

// The verified download stays in the download folder under its usual name once nothing depends
// on it any more.
void TDLLSynchronisierer::GibDownloadFrei() {
  if (!FGepruefteDLL) return;
  FGepruefteDLL.reset();
  try {
    platform_.files->ReplaceWith(FGepruefterPfad, DLLKonfiguration().DLLDownloadpfad());
  } catch (const Exception&) {
    platform_.files->RemoveIfExists(FGepruefterPfad);
  }
  FGepruefterPfad.clear();
}

bool TDLLSynchronisierer::SchuetzeDownloadOrdner() {
  try {
    platform_.files->ProtectFolder(DLLKonfiguration().Downloadpfad());
    return true;
  } catch (const Exception& e) {
    SetzeProtokollEintrag(L"Fehler beim Schützen des Download-Ordners: " + e.Message());
    return false;
  }
}

void TDLLSynchronisierer::SchuetzeVorhandenenDownloadOrdner() {
  if (platform_.files != nullptr && platform_.files->DirectoryExists(DLLKonfiguration().Downloadpfad())) {
    SchuetzeDownloadOrdner();
  }
}

std::unique_ptr<HeldFile> TDLLSynchronisierer::HalteDownload(const std::wstring& datei) {
  try {
    return platform_.files->HoldUnchanged(datei);
  } catch (const Exception&) {
    throw Exception(L"Es wurde keine Datei empfangen (" +
                    DLLKonfiguration().URLKorvalAppServerDLL() + L").");
  }
}

// Raises Exception with the reason when the held file is not the DLL that the version check
// found. What is read by its path is read while the file is held unchanged, and the path is
// proven to name the held file after the checks.
void TDLLSynchronisierer::PruefeHeruntergeladeneDLL(const std::wstring& datei, HeldFile& gehalten) {
  const std::wstring& url = DLLKonfiguration().URLKorvalAppServerDLL();
  std::string head;
  try {
    head = gehalten.ReadHead(kPeHeadBytes);
  } catch (const Exception&) {
    throw Exception(L"Es wurde keine Datei empfangen (" + url + L").");
  }
  if (!IsDllImage(head)) {
    throw Exception(L"Die empfangene Datei ist keine DLL (" + url + L").");
  }
  PruefeMaschinentyp(head);
  PruefeSignatur(datei, gehalten);
  const std::wstring version = GetDLLVersionsnummerLokal(datei);
  if (!gehalten.IsAt(datei)) {
    throw Exception(L"Die empfangene Datei wurde während der Prüfung ersetzt.");
  }
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
void TDLLSynchronisierer::PruefeSignatur(const std::wstring& datei, HeldFile& gehalten) {
  const std::vector<std::wstring>& pins = DLLKonfiguration().Signaturschluessel();
  if (pins.empty()) return;
  if (platform_.signatures == nullptr) throw Exception(L"Keine Signaturprüfung verfügbar.");
  const std::optional<std::wstring> grund =
      SignatureRefusal(platform_.signatures->Inspect(datei, gehalten), pins);
  if (grund) throw Exception(*grund);
}
