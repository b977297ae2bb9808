// The rules of a host in a fleet that the engine applies within a cycle: which failures are
// passing (and so worth a retry), a server's Retry-After kept across restarts, and the update
// ring that holds a new version back until this host has seen it long enough.

#include <cwctype>

#include "Models/DLLSynchronisierer.h"
#include "core/CivilTime.h"
#include "core/DateTimeFormat.h"
#include "core/Exception.h"
#include "core/RetryPolicy.h"
#include "core/ServerRefusal.h"
#include "core/UpdateRing.h"
#include "core/Url.h"
#include "platform/Downloader.h"

namespace {
// "scheme://host:port" of an address, the key of a server's pause; empty when it does not parse.
std::wstring ServerOf(const std::wstring& url) {
  try {
    const Url parsed = ParseUrl(url);
    std::wstring host = parsed.host;
    for (wchar_t& c : host) c = static_cast<wchar_t>(std::towlower(c));
    return parsed.scheme + L"://" + host + L":" + std::to_wstring(parsed.port);
  } catch (const Exception&) {
    return L"";
  }
}
}  // namespace

// These records may come before the first download: the protected folder is made for them.
void TDLLSynchronisierer::SpeichereInDownloadOrdner(const ServiceRecords& aufzeichnungen) {
  const std::wstring& ordner = DLLKonfiguration().Downloadpfad();
  try {
    if (!platform_.files->DirectoryExists(ordner)) platform_.files->CreateDirectories(ordner);
  } catch (const Exception& e) {
    SetzeProtokollEintrag(L"Fehler beim Schreiben der Aufzeichnungen: " + e.Message());
    return;
  }
  if (SchuetzeDownloadOrdner()) SpeichereAufzeichnungen(aufzeichnungen);
}

std::int64_t TDLLSynchronisierer::JetztUnix() const {
  return EpochSeconds(platform_.clock->UtcNow());
}

void TDLLSynchronisierer::MerkeServerAntwort(const std::wstring& url, int status,
                                             const std::wstring& retryAfter) {
  if (!IsSuccessStatus(status)) FVoruebergehend = true;
  if (!IsComeBackLaterStatus(status) || platform_.files == nullptr || FNurPruefen) return;
  const std::optional<std::int64_t> bis = RetryAfterUntil(retryAfter, JetztUnix());
  const std::wstring server = ServerOf(url);
  if (!bis || server.empty()) return;
  ServiceRecords aufzeichnungen = LadeAufzeichnungen();
  aufzeichnungen.pausedServer = server;
  aufzeichnungen.pauseUntilUnix = *bis;
  SpeichereInDownloadOrdner(aufzeichnungen);
}

void TDLLSynchronisierer::LadeHerunter(const std::wstring& url, const std::wstring& datei,
                                       const DownloadLimits& limits) {
  try {
    platform_.downloader->Download(url, datei, limits);
  } catch (const ServerRefusal& e) {
    MerkeServerAntwort(url, e.Status(), e.RetryAfter());
    throw;
  } catch (const Exception&) {
    // The transfer failed or was cut off: a later try may succeed.
    FVoruebergehend = true;
    throw;
  }
}

std::int64_t TDLLSynchronisierer::ServerPauseBis() {
  if (platform_.files == nullptr || platform_.clock == nullptr) return 0;
  const ServiceRecords aufzeichnungen = LadeAufzeichnungen();
  if (aufzeichnungen.pausedServer.empty()) return 0;
  const TDLLKonfiguration& k = DLLKonfiguration();
  const std::int64_t jetzt = JetztUnix();
  // Only a pause of a server this configuration asks, and never further ahead than a server
  // may ask for: anything else was not written for this configuration.
  if (aufzeichnungen.pausedServer != ServerOf(k.URLVersionsNr()) &&
      aufzeichnungen.pausedServer != ServerOf(k.URLKorvalAppServerDLL())) {
    return 0;
  }
  if (aufzeichnungen.pauseUntilUnix <= jetzt) return 0;
  if (aufzeichnungen.pauseUntilUnix - jetzt > kMaxRetryAfterSeconds) {
    SetzeProtokollEintrag(
        L"Warnung: Aufzeichnungen nicht verwendet: PAUSE_BIS liegt zu weit in "
        L"der Zukunft.");
    return 0;
  }
  return aufzeichnungen.pauseUntilUnix;
}

bool TDLLSynchronisierer::HaeltRingZurueck() {
  const std::int32_t stunden = DLLKonfiguration().Verzoegerung();
  if (stunden <= 0 || FRingUebergehen || FOnlineVersion.empty() || platform_.files == nullptr) {
    return false;
  }
  ServiceRecords aufzeichnungen = LadeAufzeichnungen();
  std::optional<SeenVersion> gesehen;
  if (!aufzeichnungen.seenVersion.empty()) {
    gesehen = SeenVersion{aufzeichnungen.seenVersion, aufzeichnungen.seenSinceUnix};
  }
  const RingDecision ring = DecideRing(gesehen, FOnlineVersion, JetztUnix(), stunden);
  if (!FNurPruefen && (!gesehen || !(ring.record == *gesehen))) {
    aufzeichnungen.seenVersion = ring.record.version;
    aufzeichnungen.seenSinceUnix = ring.record.firstSeenUnix;
    SpeichereInDownloadOrdner(aufzeichnungen);
  }
  if (ring.install) return false;
  SetzeProtokollEintrag(L"Die Version " + FOnlineVersion + L" wird ab " +
                        LokaleZeit(ring.installFrom) + L" installiert.");
  return true;
}

std::wstring TDLLSynchronisierer::LokaleZeit(std::int64_t unix) const {
  // The local clock's distance from UTC now, as the run log's time stamps show local time.
  const std::int64_t abstand =
      EpochSeconds(platform_.clock->Now()) - EpochSeconds(platform_.clock->UtcNow());
  return FormatTimeStamp(TimeFromEpochSeconds(unix + abstand), platform_.regional);
}

void TDLLSynchronisierer::MeldeNeuenVersuch(std::int64_t lokaleSekunden) {
  SetzeProtokollEintrag(L"Neuer Versuch um " +
                        FormatDateTime(platform_.regional.longTimePattern,
                                       TimeFromEpochSeconds(lokaleSekunden), platform_.regional) +
                        L".");
}
