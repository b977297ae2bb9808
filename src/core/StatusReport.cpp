#include "core/StatusReport.h"

#include "core/UnicodeDecoding.h"
#include "core/VersionCompare.h"

namespace {

std::string JsonString(const std::wstring& text) {
  std::string out = "\"";
  for (char c : EncodeUtf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      static const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonTime(const char* name, const StatusZeit& zeit, const char* indent) {
  return std::string(indent) + "\"" + name + "\": " + JsonString(zeit.lokal) + ",\n" + indent +
         "\"" + name + "Unix\": " + std::to_string(zeit.unix) + ",\n";
}

// A label value of the metrics: backslash, double quote and line break escaped.
std::string LabelValue(const std::wstring& text) {
  std::string out;
  for (char c : EncodeUtf8(text)) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    if (c == '\r') continue;
    out += c;
  }
  return out;
}

std::string Metric(const std::string& name, const std::string& help, const std::string& value) {
  return "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n" + name + " " + value +
         "\n";
}

}  // namespace

std::vector<std::wstring> ReleaseLines(const ReleaseFreshness& release) {
  if (!release.active) return {};
  std::vector<std::wstring> lines;
  if (release.frozen) {
    lines.push_back(L"Releasedateien: seit " + std::to_wstring(release.missingSeconds / 3600) +
                    L" Stunden kein gültiger Zeitstempel; der Update-Server liefert "
                    L"möglicherweise einen eingefrorenen Stand.");
  } else if (release.missingSeconds > 0) {
    lines.push_back(L"Releasedateien: seit " + std::to_wstring(release.missingSeconds / 60) +
                    L" Minuten kein gültiger Zeitstempel.");
  } else {
    lines.push_back(L"Releasedateien: gültiger Zeitstempel.");
  }
  lines.push_back(L"Releases im Rückstand: " + std::to_wstring(release.behind));
  return lines;
}

bool AktualisierungFaellig(const StatusBericht& bericht) {
  if (!IsResourceVersion(bericht.onlineVersion)) return false;
  for (const StatusZiel& ziel : bericht.ziele) {
    if (IsResourceVersion(ziel.version) &&
        CompareDottedVersions(ziel.version, bericht.onlineVersion) < 0)
      return true;
  }
  return false;
}

int StatusExitCode(const StatusBericht& bericht) {
  if (bericht.ergebnis == kErgebnisFehlgeschlagen) return 1;
  return AktualisierungFaellig(bericht) ? 2 : 0;
}

std::string FormatStatusJson(const StatusBericht& b) {
  std::string out = "{\n";
  out += "  \"programmVersion\": " + JsonString(b.programmVersion) + ",\n";
  out += JsonTime("letztePruefung", b.letztePruefung, "  ");
  out += "  \"ergebnis\": " + JsonString(b.ergebnis) + ",\n";
  out += "  \"onlineVersion\": " + JsonString(b.onlineVersion) + ",\n";
  out += std::string("  \"aktualisierungFaellig\": ") +
         (AktualisierungFaellig(b) ? "true" : "false") + ",\n";
  out += "  \"ziele\": [";
  for (std::size_t i = 0; i < b.ziele.size(); ++i) {
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"pfad\": " + JsonString(b.ziele[i].pfad) +
           ", \"version\": " + JsonString(b.ziele[i].version) + "}";
  }
  out += b.ziele.empty() ? "],\n" : "\n  ],\n";
  out += JsonTime("letzteAktualisierung", b.letzteAktualisierung, "  ");
  out += "  \"fehlgeschlageneZyklenInFolge\": " + std::to_string(b.fehlgeschlageneZyklenInFolge);
  if (b.downloadBekannt) {
    out += ",\n  \"letzterDownload\": {\"patch\": " +
           std::string(b.patchVerwendet ? "true" : "false") +
           ", \"gesparteBytes\": " + std::to_string(b.patchGespart) + "}";
  }
  if (b.release.active) {
    out +=
        ",\n  \"release\": {\"eingefroren\": " + std::string(b.release.frozen ? "true" : "false") +
        ", \"ohneGueltigenZeitstempelSekunden\": " + std::to_string(b.release.missingSeconds) +
        ", \"releasesZurueck\": " + std::to_string(b.release.behind) + "}";
  }
  return out + "\n}\n";
}

std::string FormatStatusMetrics(const StatusBericht& b) {
  std::string out;
  out +=
      "# HELP korval_update_info The program's version and the last known online version.\n"
      "# TYPE korval_update_info gauge\n"
      "korval_update_info{version=\"" +
      LabelValue(b.programmVersion) + "\",online_version=\"" + LabelValue(b.onlineVersion) +
      "\"} 1\n";
  out += Metric("korval_update_last_check_timestamp_seconds",
                "When the last update cycle ended (0: none yet).",
                std::to_string(b.letztePruefung.lokal.empty() ? 0 : b.letztePruefung.unix));
  out += Metric("korval_update_last_check_success",
                "1 when the last update cycle succeeded, 0 when it failed.",
                b.ergebnis == kErgebnisFehlgeschlagen ? "0" : "1");
  out += Metric("korval_update_due", "1 when a target DLL is older than the online version.",
                AktualisierungFaellig(b) ? "1" : "0");
  out += Metric(
      "korval_update_last_success_timestamp_seconds",
      "When the last update was installed (0: none known).",
      std::to_string(b.letzteAktualisierung.lokal.empty() ? 0 : b.letzteAktualisierung.unix));
  out += Metric("korval_update_failed_cycles", "Failed update cycles in a row.",
                std::to_string(b.fehlgeschlageneZyklenInFolge));
  out += Metric("korval_update_ring_delay_seconds",
                "The host's update ring: how long a new version waits (0: the canary ring).",
                std::to_string(static_cast<std::int64_t>(b.ringVerzoegerung) * 3600));
  out += Metric("korval_update_rolled_back",
                "1 while a build that was taken back after its update waits.",
                b.zurueckgenommen ? "1" : "0");
  if (b.downloadBekannt) {
    out += Metric("korval_update_patch_used",
                  "1 when the last download was made from a patch, 0 when the whole DLL came.",
                  b.patchVerwendet ? "1" : "0");
    out += Metric("korval_update_patch_saved_bytes",
                  "The bytes the last download's patch saved on the wire.",
                  std::to_string(b.patchGespart));
  }
  if (b.release.active) {
    out += Metric("korval_release_frozen",
                  "1 when no valid signed timestamp was had for longer than its expiry.",
                  b.release.frozen ? "1" : "0");
    out += Metric("korval_release_timestamp_missing_seconds",
                  "How long the host has had no valid signed timestamp (0 while it has one).",
                  std::to_string(b.release.missingSeconds));
    out += Metric("korval_release_behind", "Releases this host is behind the newest it verified.",
                  std::to_string(b.release.behind));
  }
  out +=
      "# HELP korval_update_target_info Each target DLL with its product version.\n"
      "# TYPE korval_update_target_info gauge\n";
  for (const StatusZiel& ziel : b.ziele) {
    out += "korval_update_target_info{path=\"" + LabelValue(ziel.pfad) + "\",version=\"" +
           LabelValue(ziel.version) + "\"} 1\n";
  }
  return out;
}

std::vector<std::wstring> StatusLines(const StatusBericht& b) {
  std::vector<std::wstring> lines;
  lines.push_back(L"Programmversion: " + b.programmVersion);
  lines.push_back(
      L"Letzte Prüfung: " +
      (b.letztePruefung.lokal.empty() ? std::wstring(L"keine") : b.letztePruefung.lokal) + L" (" +
      b.ergebnis + L")");
  lines.push_back(L"Online-Version: " +
                  (b.onlineVersion.empty() ? std::wstring(L"unbekannt") : b.onlineVersion));
  for (const StatusZiel& ziel : b.ziele) {
    lines.push_back(L"DLL " + ziel.pfad + L": Version " +
                    (ziel.version.empty() ? std::wstring(L"nicht lesbar") : ziel.version));
  }
  lines.push_back(L"Letzte Aktualisierung: " + (b.letzteAktualisierung.lokal.empty()
                                                    ? std::wstring(L"keine bekannt")
                                                    : b.letzteAktualisierung.lokal));
  lines.push_back(L"Fehlgeschlagene Zyklen in Folge: " +
                  std::to_wstring(b.fehlgeschlageneZyklenInFolge));
  for (const std::wstring& line : ReleaseLines(b.release)) lines.push_back(line);
  const int code = StatusExitCode(b);
  lines.push_back(code == 1   ? L"Ergebnis: Der letzte Zyklus ist fehlgeschlagen."
                  : code == 2 ? L"Ergebnis: Aktualisierung fällig."
                              : L"Ergebnis: In Ordnung.");
  return lines;
}
