#pragma once
// The service's settings, read once from KORVAL_Update_Service.ini when the engine is created.

#include <cstdint>
#include <string>
#include <vector>

#include "core/AppPoolRecycle.h"

class ProfileReader;

class TDLLKonfiguration {
 public:
  // Create: keeps the INI file's path; reads nothing, so every property is empty until LadeFelder.
  TDLLKonfiguration(std::wstring DateiName, ProfileReader& profiles, std::wstring programFolder,
                    wchar_t decimalSeparator);
  // Destroy: asks the platform to drop its cached copy of the INI file; writes nothing.
  ~TDLLKonfiguration();
  TDLLKonfiguration(const TDLLKonfiguration&) = delete;
  TDLLKonfiguration& operator=(const TDLLKonfiguration&) = delete;

  // Reads every key in order. Raises EConvertError when UPDATEINTERVALL, Testmodus,
  // STATUSWARTEZEIT or PROTOKOLLGENERATIONEN does not convert; later keys are then not read.
  // Raises Exception when SIGNATURSCHLUESSEL is no list of SHA-256 digests, IISMODUS is no mode,
  // PROXYANMELDUNG is neither NEIN nor JA, or PROTOKOLLGENERATIONEN lies outside 0 to 999. Raises
  // EConvertError when a key of "ZEITPLAN", read last, does not convert or lies outside its range.
  void LadeFelder();

  const std::wstring& DateiName() const { return FDateiName; }
  const std::wstring& IISSiteName() const { return FIISSiteName; }
  const std::wstring& DLLDownloadpfad() const { return FDLLDownloadpfad; }
  const std::wstring& Downloadpfad() const { return FDownloadpfad; }
  const std::wstring& Protokollpfad() const { return FProtokollpfad; }
  std::int32_t UpdateIntervall() const { return FUpdateIntervall; }
  const std::vector<std::wstring>& DLLPfadeListe() const { return FDLLPfadeListe; }
  bool TestModus() const { return FTestModus; }
  const std::wstring& URLVersionsNr() const { return FURLVersionsNr; }
  const std::wstring& URLKorvalAppServerDLL() const { return FURLKorvalAppServerDLL; }
  // The IIS application pool stopped and started with the site; empty: the site alone.
  const std::wstring& IISAppPool() const { return FIISAppPool; }
  // A page of the site that answers 2xx while the application works; empty: no check.
  const std::wstring& Statusseite() const { return FStatusseite; }
  // Seconds the status page may take to become healthy after the site start.
  std::int32_t StatusWartezeit() const { return FStatusWartezeit; }
  // The allowed signers' key digests (lower-case hex); empty when no signature is required.
  const std::vector<std::wstring>& Signaturschluessel() const { return FSignaturschluessel; }
  // Whether an administrator's proxy that demands a logon (407) gets the machine's identity from
  // the version check and the download (PROXYANMELDUNG=JA); never by default.
  bool ProxyAnmeldung() const { return FProxyAnmeldung; }
  // How the site takes up the new DLL: stopped and started, or its pools recycled.
  SiteMode IISModus() const { return FIISModus; }
  // Earlier run logs kept (Protokoll.1.txt and up); 0: none.
  std::int32_t ProtokollGenerationen() const { return FProtokollGenerationen; }
  // The windows_exporter textfile collector's file for the status metrics; empty: none.
  const std::wstring& PrometheusDatei() const { return FPrometheusDatei; }
  // The hours at which a check window opens (ZEITFENSTER), sorted, each once.
  const std::vector<int>& Zeitfenster() const { return FZeitfenster; }
  // Minutes over which a fleet spreads its checks after a window opens (STREUUNG).
  std::int32_t Streuung() const { return FStreuung; }
  // Further cycles within a window after a passing failure (WIEDERHOLUNGEN).
  std::int32_t Wiederholungen() const { return FWiederholungen; }
  // Hours a newly published version waits before it is installed (VERZOEGERUNG).
  std::int32_t Verzoegerung() const { return FVerzoegerung; }
  // The pinned release keys (RELEASESCHLUESSEL: current and next, base64); empty: the signed
  // release files are not used.
  const std::vector<std::string>& Releaseschluessel() const { return FReleaseschluessel; }
  // The folder (URL ending with "/") of the signed release files (RELEASEDATEIEN).
  const std::wstring& URLReleasedateien() const { return FURLReleasedateien; }
  // Minutes between two fetches of the timestamp with a release key (ZEITSTEMPELINTERVALL).
  std::int32_t Zeitstempelintervall() const { return FZeitstempelintervall; }
  static constexpr std::int32_t kMaxWiederholungen = 100;
  static constexpr std::int32_t kMaxVerzoegerung = 8760;  // a year

  void SetIISSiteName(std::wstring v) { FIISSiteName = std::move(v); }
  void SetDLLDownloadpfad(std::wstring v) { FDLLDownloadpfad = std::move(v); }
  void SetDownloadpfad(std::wstring v) { FDownloadpfad = std::move(v); }
  void SetProtokollpfad(std::wstring v) { FProtokollpfad = std::move(v); }
  void SetUpdateIntervall(std::int32_t v) { FUpdateIntervall = v; }
  void SetTestModus(bool v) { FTestModus = v; }
  void SetURLVersionsNr(std::wstring v) { FURLVersionsNr = std::move(v); }
  void SetURLKorvalAppServerDLL(std::wstring v) { FURLKorvalAppServerDLL = std::move(v); }
  void SetIISAppPool(std::wstring v) { FIISAppPool = std::move(v); }
  std::vector<std::wstring>& DLLPfadeListe() { return FDLLPfadeListe; }
  void SetSignaturschluessel(std::vector<std::wstring> v) { FSignaturschluessel = std::move(v); }
  void SetProxyAnmeldung(bool v) { FProxyAnmeldung = v; }
  void SetIISModus(SiteMode v) { FIISModus = v; }
  void SetVerzoegerung(std::int32_t v) { FVerzoegerung = v; }
  void SetReleaseschluessel(std::vector<std::string> v) { FReleaseschluessel = std::move(v); }
  void SetURLReleasedateien(std::wstring v) { FURLReleasedateien = std::move(v); }

 private:
  static std::int32_t StundenInMillisekunden(std::int32_t stunden);
  void LeseDLLPfade();
  void LeseAbsicherung();
  void LeseSignaturschluessel();
  void LeseUeberwachung();
  void LeseZeitplan();
  void LeseReleasedateien();
  std::int32_t LeseBegrenzt(const std::wstring& key, std::int32_t mindestens,
                            std::int32_t hoechstens, const std::wstring& einheit);

  std::wstring FDateiName;
  ProfileReader& profiles_;
  std::wstring programFolder_;
  wchar_t decimalSeparator_;

  std::wstring FIISSiteName;
  std::wstring FDLLDownloadpfad;
  std::wstring FDownloadpfad;
  std::wstring FProtokollpfad;
  std::int32_t FUpdateIntervall = 0;
  std::vector<std::wstring> FDLLPfadeListe;
  bool FTestModus = false;
  std::wstring FURLVersionsNr;
  std::wstring FURLKorvalAppServerDLL;
  std::wstring FIISAppPool;
  std::wstring FStatusseite;
  std::int32_t FStatusWartezeit = 60;
  std::vector<std::wstring> FSignaturschluessel;
  bool FProxyAnmeldung = false;
  SiteMode FIISModus = SiteMode::Stop;
  std::int32_t FProtokollGenerationen = 10;
  std::wstring FPrometheusDatei;
  std::vector<int> FZeitfenster{0, 12};
  std::int32_t FStreuung = 0;
  std::int32_t FWiederholungen = 0;
  std::int32_t FVerzoegerung = 0;
  std::vector<std::string> FReleaseschluessel;
  std::wstring FURLReleasedateien;
  std::int32_t FZeitstempelintervall = 60;
};
