// A version that the status page rejected after it was installed is not installed again by
// itself: the service keeps it, with the DLL's SHA-256, in its records until another version is
// published. An administrator's /UPDATE tries it once more.

#include "Models/DLLSynchronisierer.h"
#include "Models/ServiceRecordStore.h"
#include "core/Exception.h"
#include "core/VersionCompare.h"

ServiceRecords TDLLSynchronisierer::LadeAufzeichnungen() {
  if (platform_.files == nullptr) return {};
  std::vector<std::wstring> ignoriert;
  ServiceRecords aufzeichnungen =
      ServiceRecordStore(*platform_.files, DLLKonfiguration().Downloadpfad()).Load(ignoriert);
  for (const std::wstring& grund : ignoriert) {
    SetzeProtokollEintrag(L"Warnung: Aufzeichnungen nicht verwendet: " + grund + L".");
  }
  return aufzeichnungen;
}

void TDLLSynchronisierer::SpeichereAufzeichnungen(const ServiceRecords& aufzeichnungen) {
  try {
    ServiceRecordStore(*platform_.files, DLLKonfiguration().Downloadpfad()).Save(aufzeichnungen);
  } catch (const Exception& e) {
    SetzeProtokollEintrag(L"Fehler beim Schreiben der Aufzeichnungen: " + e.Message());
  }
}

void TDLLSynchronisierer::MerkeZurueckgenommeneVersion() {
  ServiceRecords aufzeichnungen = LadeAufzeichnungen();
  aufzeichnungen.rejectedVersion = FOnlineVersion;
  aufzeichnungen.rejectedSha256 = ToHex(FGepruefterHash);
  SpeichereAufzeichnungen(aufzeichnungen);
}

void TDLLSynchronisierer::VergissZurueckgenommeneVersion() {
  ServiceRecords aufzeichnungen = LadeAufzeichnungen();
  if (aufzeichnungen.rejectedVersion.empty()) return;
  aufzeichnungen.rejectedVersion.clear();
  aufzeichnungen.rejectedSha256.clear();
  SpeichereAufzeichnungen(aufzeichnungen);
}

bool TDLLSynchronisierer::IstZurueckgenommen(bool updateFaellig) {
  if (FOnlineVersion.empty() || platform_.files == nullptr) return false;
  const ServiceRecords aufzeichnungen = LadeAufzeichnungen();
  const std::wstring& version = aufzeichnungen.rejectedVersion;
  if (version.empty()) return false;
  if (!IsSameVersion(version, FOnlineVersion)) {
    // Another version is published: the rejection has served its purpose.
    VergissZurueckgenommeneVersion();
    return false;
  }
  if (!updateFaellig) return false;
  if (FZurueckgenommeneErlaubt) {
    SetzeProtokollEintrag(L"Die Version " + version +
                          L" wurde nach der Prüfung der Statusseite zurückgenommen; sie wird auf "
                          L"Anweisung erneut installiert.");
    return false;
  }
  SetzeProtokollEintrag(L"Die Version " + version +
                        L" wurde nach der Prüfung der Statusseite zurückgenommen; sie wird nicht "
                        L"erneut installiert.");
  return true;
}
