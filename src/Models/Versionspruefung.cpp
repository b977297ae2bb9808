// The version check of TDLLSynchronisierer: fetches the published version text, reads the
// product version of every target DLL and decides whether an update is due.

#include <memory>

#include "Models/DLLSynchronisierer.h"
#include "core/CaughtError.h"
#include "platform/OutcomeSink.h"
#include "core/BodyDecoding.h"
#include "core/Conversions.h"
#include "core/Exception.h"
#include "core/HttpFetch.h"
#include "core/VersionCompare.h"
#include "platform/HttpTransport.h"
#include "platform/VersionReader.h"

bool TDLLSynchronisierer::PruefeAufNeueVersion() {
  bool result = false;
  FLetzterBefund.clear();
  try {
    const std::wstring onlineText = GetDLLVersionsnummerOnline();
    const std::vector<std::wstring>& paths = FDLLKonfiguration->DLLPfadeListe();
    const std::size_t count = paths.size();
    for (std::size_t i = 0; i < count; ++i) {
      const std::wstring localText = LeseDLLVersionAus(paths[i]);
      // The online text is converted anew for every entry, and before the local one.
      const VersionVerdict verdict = CompareWithOnline(localText, onlineText);
      ZielBefund befund{paths[i], localText, verdict.older, verdict.newer};
      FLetzterBefund.push_back(befund);
      if (befund.aelter) result = true;
    }
    SetzeProtokollEintrag(result ? L"Neue Version gefunden." : L"Version aktuell.");
  } catch (...) {
    SetzeProtokollEintrag(L"Fehler beim prüfen auf neue Version.");
    // A failed fetch was reported with its own reason.
    if (!FOnlineVersion.empty()) {
      ReportOutcome(platform_.outcomes, Outcome::VersionCheckFailed, {CaughtErrorMessage()});
    }
  }
  return result;
}

std::wstring TDLLSynchronisierer::GetDLLVersionsnummerOnline() {
  FOnlineVersion.clear();
  // A client that cannot be created is not this operation's failure: it ends the whole check.
  if (platform_.http == nullptr) throw Exception(L"Kein HTTP-Client verfügbar");
  std::unique_ptr<HttpSession> client = platform_.http->Create();
  try {
    SetzeProtokollEintrag(L"Prüfe auf neue Version.");
    HttpResponse response = FetchFollowingRedirects(
        *client, ParseUrl(FDLLKonfiguration->URLVersionsNr()), kMaxVersionBodyBytes);
    MerkeServerAntwort(FDLLKonfiguration->URLVersionsNr(), response.status, response.retryAfter);
    std::wstring text = DecodeBody(response, platform_.codec, kMaxVersionBodyBytes);
    client.reset();
    FOnlineVersion = text;
    return text;
  } catch (const Exception& e) {
    client.reset();
    FVoruebergehend = true;
    SetzeProtokollEintrag(L"Fehler beim abfragen der aktuellen Versionsnummer: " + e.Message());
    ReportOutcome(platform_.outcomes, Outcome::VersionCheckFailed, {e.Message()});
    return L"";
  }
}

std::wstring TDLLSynchronisierer::LeseDLLVersionAus(const std::wstring& path) {
  SetzeProtokollEintrag(L"Lese DLL-Version aus.");
  try {
    return GetDLLVersionsnummerLokal(path);
  } catch (...) {
    SetzeProtokollEintrag(L"Fehler beim auslesen der DLL-Version.");
    return L"";
  }
}

std::wstring TDLLSynchronisierer::GetDLLVersionsnummerLokal(const std::wstring& path) {
  if (platform_.versions == nullptr) throw Exception(L"Kein Versionsleser verfügbar");
  std::optional<ProductVersion> version = platform_.versions->ReadProductVersion(path);
  if (!version) return L"";
  return FormatProductVersion(version->ms, version->ls);
}
