// Download of the new DLL into the download folder, checked before anything on the site changes.
//
// The site is only ever stopped for a DLL that downloaded completely, is a DLL and carries the
// published version; every other download ends the cycle with its reason in the run log.

#include "Models/DLLSynchronisierer.h"
#include "core/Exception.h"
#include "core/PortableExecutable.h"
#include "core/VersionCompare.h"
#include "platform/Downloader.h"
#include "platform/FileSystem.h"

namespace {
std::wstring DownloadTempPath(const std::wstring& dllPath) { return dllPath + L".download"; }
}  // namespace

void TDLLSynchronisierer::DownloadeDLLVonWebseite() {
  FDownloadGeprueft = false;
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
    platform_.downloader->Download(konfiguration.URLKorvalAppServerDLL(), temp);
    // Held from here to the end of the exchange: the bytes checked are the bytes installed.
    FGepruefteDLL = HalteDownload(temp);
    PruefeHeruntergeladeneDLL(temp);
    FGepruefterHash = FGepruefteDLL->Sha256();
    files.ReplaceWith(temp, konfiguration.DLLDownloadpfad());
    FDownloadGeprueft = true;
  } catch (const Exception& e) {
    FGepruefteDLL.reset();
    files.RemoveIfExists(temp);
    SetzeProtokollEintrag(L"Fehler beim downloaden der DLL: " + e.Message());
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
  const std::wstring version = GetDLLVersionsnummerLokal(datei);
  if (version.empty()) {
    throw Exception(L"Die Version der empfangenen DLL kann nicht gelesen werden.");
  }
  if (!IsSameVersion(version, FOnlineVersion)) {
    throw Exception(L"Die empfangene DLL hat die Version " + version + L", erwartet wurde \"" +
                    FOnlineVersion + L"\".");
  }
}
