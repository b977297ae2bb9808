#pragma once
// The status an administrator or a monitoring system polls: Status.json beside the run log and,
// optionally, the same facts as metrics for windows_exporter's textfile collector. A plain record
// with its formats; the file read back is trusted for nothing but the facts carried over.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ReleaseFiles.h"

struct StatusZiel {
  std::wstring pfad;
  std::wstring version;  // empty when it could not be read
  bool operator==(const StatusZiel&) const = default;
};

struct StatusZeit {
  std::wstring lokal;     // local time, "2025-06-05T12:00:05"; empty: never
  std::int64_t unix = 0;  // seconds since 1970 (UTC)
  bool operator==(const StatusZeit&) const = default;
};

// The results of the last check.
inline constexpr const wchar_t* kErgebnisKeine = L"keine";  // no cycle since the status began
inline constexpr const wchar_t* kErgebnisAktuell = L"aktuell";
inline constexpr const wchar_t* kErgebnisAktualisiert = L"aktualisiert";
inline constexpr const wchar_t* kErgebnisFehlgeschlagen = L"fehlgeschlagen";

struct StatusBericht {
  std::wstring programmVersion;
  StatusZeit letztePruefung;
  std::wstring ergebnis = kErgebnisKeine;
  std::wstring onlineVersion;
  std::vector<StatusZiel> ziele;
  StatusZeit letzteAktualisierung;
  std::int32_t fehlgeschlageneZyklenInFolge = 0;
  // Of this cycle, never read back: the host's update ring (VERZOEGERUNG), whether a build that
  // was taken back waits, and the signed release files' freshness (release.active: a key is
  // pinned; only then Status.json and the metrics carry it).
  std::int32_t ringVerzoegerung = 0;
  bool zurueckgenommen = false;
  ReleaseFreshness release;
  // The last download with a signed release: whether a patch made it, and the bytes it saved on
  // the wire. Kept across restarts; written only once there was such a download.
  bool downloadBekannt = false;
  bool patchVerwendet = false;
  std::int64_t patchGespart = 0;
  bool operator==(const StatusBericht&) const = default;
};

// Whether some target is older than the online version (both readable resource versions).
bool AktualisierungFaellig(const StatusBericht& bericht);

// The STATUS switch's exit code: 1 when the last cycle failed, 2 when an update is due, 0
// otherwise.
int StatusExitCode(const StatusBericht& bericht);

// Status.json: UTF-8, two-space indented, ending with a line break.
std::string FormatStatusJson(const StatusBericht& bericht);

// Reads what FormatStatusJson wrote. Answers std::nullopt for anything else: text that is not such
// a record, a field of the wrong kind, a result that is none of ours, an online version that is
// no version, a count out of range.
std::optional<StatusBericht> ParseStatusJson(const std::string& text);

// The metrics in Prometheus' text format, ending with a line break.
std::string FormatStatusMetrics(const StatusBericht& bericht);

// The lines of the signed release files' freshness (none without a release key); /STATUS and
// /CHECK print them.
std::vector<std::wstring> ReleaseLines(const ReleaseFreshness& release);

// What the STATUS switch prints.
std::vector<std::wstring> StatusLines(const StatusBericht& bericht);
