#include "Models/DLLKonfiguration.h"

#include <string>
#include <utility>

#include "core/Conversions.h"
#include "core/Exception.h"
#include "core/ProxyLogon.h"
#include "core/ReleaseFiles.h"
#include "core/SignaturePolicy.h"
#include "core/UpdateSchedule.h"
#include "platform/ProfileReader.h"

namespace {

const std::wstring kVerzeichnisse = L"VERZEICHNISSE";
const std::wstring kEntwicklung = L"ENTWICKLUNG";
const std::wstring kUrls = L"URLS";
const std::wstring kAbsicherung = L"ABSICHERUNG";
const std::wstring kUeberwachung = L"UEBERWACHUNG";
constexpr std::int32_t kMaxProtokollGenerationen = 999;
const std::wstring kZeitplan = L"ZEITPLAN";
const std::wstring kDllDateiName = L"KorvalAppServer.dll";
constexpr int kErsterDllPfad = 1;
constexpr int kLetzterDllPfad = 30;
constexpr std::uint32_t kMillisekundenProStunde = 3600000u;

}  // namespace

TDLLKonfiguration::TDLLKonfiguration(std::wstring DateiName, ProfileReader& profiles,
                                     std::wstring programFolder, wchar_t decimalSeparator)
    : FDateiName(std::move(DateiName)),
      profiles_(profiles),
      programFolder_(std::move(programFolder)),
      decimalSeparator_(decimalSeparator) {}

TDLLKonfiguration::~TDLLKonfiguration() { profiles_.Flush(FDateiName); }

void TDLLKonfiguration::LadeFelder() {
  FIISSiteName =
      profiles_.ReadString(FDateiName, kVerzeichnisse, L"IISSITENAME", L"Default Web Site");

  const std::wstring download =
      profiles_.ReadString(FDateiName, kVerzeichnisse, L"DOWNLOADPFAD", programFolder_);
  FDownloadpfad = ApplyFolderRule(download) + L"Download\\";
  FDLLDownloadpfad = FDownloadpfad + kDllDateiName;

  const std::wstring protokoll =
      profiles_.ReadString(FDateiName, kVerzeichnisse, L"PROTOKOLLPFAD", programFolder_);
  FProtokollpfad = ApplyFolderRule(protokoll) + L"Protokoll.txt";

  const std::wstring intervall =
      profiles_.ReadString(FDateiName, kVerzeichnisse, L"UPDATEINTERVALL", L"12");
  FUpdateIntervall = StundenInMillisekunden(StrToInt(intervall));

  LeseDLLPfade();

  const std::wstring testModus = profiles_.ReadString(FDateiName, kEntwicklung, L"Testmodus", L"0");
  FTestModus = StrToBool(testModus, decimalSeparator_);

  FURLVersionsNr = profiles_.ReadString(FDateiName, kUrls, L"VersionsNr",
                                        L"https://update.korval.de/KORVALAppDLLVersion.txt");
  FURLKorvalAppServerDLL = profiles_.ReadString(FDateiName, kUrls, L"KorvalAppServerDLL",
                                                L"https://update.korval.de/KorvalAppServer.dll");

  LeseAbsicherung();
  LeseSignaturschluessel();
  FProxyAnmeldung =
      ParseProxyLogon(profiles_.ReadString(FDateiName, kAbsicherung, L"PROXYANMELDUNG", L"NEIN"));
  FIISModus =
      ParseSiteMode(profiles_.ReadString(FDateiName, kVerzeichnisse, L"IISMODUS", L"STOPP"));
  LeseUeberwachung();
  LeseZeitplan();
  LeseReleasedateien();
}

// Settings beyond the original set, read after it so that every earlier key keeps its order.
void TDLLKonfiguration::LeseAbsicherung() {
  FIISAppPool = profiles_.ReadString(FDateiName, kVerzeichnisse, L"IISAPPPOOL", L"");
  FStatusseite = profiles_.ReadString(FDateiName, kAbsicherung, L"STATUSSEITE", L"");
  FStatusWartezeit =
      StrToInt(profiles_.ReadString(FDateiName, kAbsicherung, L"STATUSWARTEZEIT", L"60"));
}

// Gaps in the numbering are allowed, and a key that is present but empty adds nothing.
void TDLLKonfiguration::LeseDLLPfade() {
  FDLLPfadeListe.clear();
  for (int n = kErsterDllPfad; n <= kLetzterDllPfad; ++n) {
    const std::wstring key = L"DLLPFAD" + std::to_wstring(n);
    if (!profiles_.ValueExists(FDateiName, kVerzeichnisse, key)) continue;
    const std::wstring folder = profiles_.ReadString(FDateiName, kVerzeichnisse, key, L"");
    if (folder.empty()) continue;
    FDLLPfadeListe.push_back(ApplyFolderRule(folder) + kDllDateiName);
  }
}

// The product wraps like a 32-bit multiplication (1000 hours gives a negative value); computed
// unsigned so that the wrap is defined.
std::int32_t TDLLKonfiguration::StundenInMillisekunden(std::int32_t stunden) {
  const std::uint32_t product = static_cast<std::uint32_t>(stunden) * kMillisekundenProStunde;
  return static_cast<std::int32_t>(product);
}

// Empty or missing: no signature is required. A value that is not a digest list raises, so a
// mistyped pin fails the start instead of silently accepting unsigned DLLs.
void TDLLKonfiguration::LeseSignaturschluessel() {
  FSignaturschluessel = ParsePinnedDigests(
      profiles_.ReadString(FDateiName, kAbsicherung, L"SIGNATURSCHLUESSEL", L""));
}

// A negative or absurd count is a typing error: it fails the start instead of deleting history.
void TDLLKonfiguration::LeseUeberwachung() {
  const std::wstring generationen =
      profiles_.ReadString(FDateiName, kUeberwachung, L"PROTOKOLLGENERATIONEN", L"10");
  FProtokollGenerationen = StrToInt(generationen);
  if (FProtokollGenerationen < 0 || FProtokollGenerationen > kMaxProtokollGenerationen) {
    throw Exception(L"Der Wert von PROTOKOLLGENERATIONEN ist ungültig: \"" + generationen +
                    L"\" (erlaubt sind 0 bis 999)");
  }
  FPrometheusDatei = profiles_.ReadString(FDateiName, kUeberwachung, L"PROMETHEUSDATEI", L"");
}

// The fleet settings, read after every other key. Each defaults to the schedule of a single host:
// the windows at 0 and 12 o'clock, no offset, no retry, no ring.
void TDLLKonfiguration::LeseZeitplan() {
  FZeitfenster = ParseWindowHours(
      profiles_.ReadString(FDateiName, kZeitplan, L"ZEITFENSTER", kDefaultWindowHours));
  FStreuung = LeseBegrenzt(L"STREUUNG", 0, WindowGapMinutes(FZeitfenster) - 1,
                           L"Minuten (kleiner als der Abstand zweier Zeitfenster)");
  FWiederholungen = LeseBegrenzt(L"WIEDERHOLUNGEN", 0, kMaxWiederholungen, L"Versuche");
  FVerzoegerung = LeseBegrenzt(L"VERZOEGERUNG", 0, kMaxVerzoegerung, L"Stunden");
}

// An integer key of "ZEITPLAN" (default 0); a value outside [0, hoechstens] fails like one that
// does not convert.
std::int32_t TDLLKonfiguration::LeseBegrenzt(const std::wstring& key, std::int32_t mindestens,
                                             std::int32_t hoechstens, const std::wstring& einheit) {
  const std::wstring text = profiles_.ReadString(FDateiName, kZeitplan, key, L"0");
  const std::int32_t value = StrToInt(text);
  if (value < mindestens || value > hoechstens) {
    throw EConvertError(L"'" + text + L"' liegt für " + key + L" nicht zwischen " +
                        std::to_wstring(mindestens) + L" und " + std::to_wstring(hoechstens) +
                        L" " + einheit);
  }
  return value;
}

// The signed release files, read last. Without a key nothing of them is used; a key that is not
// one fails the start, so that a mistyped pin never means "accept anything".
void TDLLKonfiguration::LeseReleasedateien() {
  const std::wstring schluessel =
      profiles_.ReadString(FDateiName, kAbsicherung, L"RELEASESCHLUESSEL", L"");
  FReleaseschluessel.clear();
  if (!schluessel.empty()) FReleaseschluessel = ParseReleaseKeys(schluessel);
  // By default the folder of the version text.
  const std::size_t slash = FURLVersionsNr.rfind(L'/');
  const std::wstring ordner =
      slash == std::wstring::npos ? FURLVersionsNr : FURLVersionsNr.substr(0, slash + 1);
  FURLReleasedateien = profiles_.ReadString(FDateiName, kUrls, L"RELEASEDATEIEN", ordner);
  if (!FURLReleasedateien.empty() && FURLReleasedateien.back() != L'/') FURLReleasedateien += L'/';
  const std::wstring intervall =
      profiles_.ReadString(FDateiName, kZeitplan, L"ZEITSTEMPELINTERVALL", L"60");
  FZeitstempelintervall = StrToInt(intervall);
  if (FZeitstempelintervall < 5 || FZeitstempelintervall > 1440) {
    throw EConvertError(L"'" + intervall +
                        L"' liegt für ZEITSTEMPELINTERVALL nicht zwischen 5 und 1440 Minuten");
  }
}
