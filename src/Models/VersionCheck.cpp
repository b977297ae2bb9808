#include "Models/VersionCheck.h"

#include <memory>

#include "Models/BodyDecoding.h"
#include "Models/DLLKonfiguration.h"
#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "Models/ServiceRecordBook.h"
#include "Models/SignedReleases.h"
#include "Models/VersionFetch.h"
#include "core/CaughtError.h"
#include "core/Exception.h"
#include "core/HttpFetch.h"
#include "core/ServiceRecords.h"
#include "core/Sha256Digest.h"
#include "core/UnicodeDecoding.h"
#include "core/VersionCompare.h"
#include "platform/HttpTransport.h"
#include "platform/VersionReader.h"

std::wstring ProductVersionText(VersionReader* versions, const std::wstring& path) {
  if (versions == nullptr) throw Exception(L"Kein Versionsleser verfügbar");
  std::optional<ProductVersion> version = versions->ReadProductVersion(path);
  if (!version) return L"";
  return FormatProductVersion(version->ms, version->ls);
}

VersionCheck::VersionCheck(const EnginePlatform& platform, const TDLLKonfiguration& konfiguration,
                           RunLogLines& log, ServiceRecordBook& records, SignedReleases& releases)
    : platform_(platform),
      konfiguration_(konfiguration),
      log_(log),
      records_(records),
      releases_(releases) {}

bool VersionCheck::Run() {
  bool due = false;
  findings_.clear();
  try {
    const std::wstring onlineText = FetchOnline();
    for (const std::wstring& path : konfiguration_.DLLPfadeListe()) {
      const std::wstring localText = ReadTargetVersion(path);
      // The online text is converted anew for every entry, and before the local one.
      VersionVerdict verdict = CompareWithOnline(localText, onlineText);
      // A revoked version goes, even for an older release: the one way down, signed offline.
      if (releases_.Revoked(localText)) {
        log_.Log(L"Version " + localText + L" ist zurückgezogen und wird durch " + onlineText +
                 L" ersetzt.");
        verdict = VersionVerdict{true, false};
      } else if (verdict.newer && releases_.Current()) {
        // A signed release older than what runs here is a rollback: refused, nothing changes.
        releases_.RefuseOlderThanInstalled(localText);
      }
      findings_.push_back({path, localText, verdict.older, verdict.newer});
      due = due || verdict.older;
    }
    log_.Log(due ? L"Neue Version gefunden." : L"Version aktuell.");
  } catch (...) {
    log_.Log(L"Fehler beim prüfen auf neue Version.");
    // A failed fetch was reported with its own reason.
    if (!online_.empty()) {
      ReportOutcome(platform_.outcomes, Outcome::VersionCheckFailed, {CaughtErrorMessage()});
    }
  }
  return due;
}

std::wstring VersionCheck::FetchOnline() {
  online_.clear();
  // A client that cannot be created is not this operation's failure: it ends the whole check.
  if (platform_.http == nullptr) throw Exception(L"Kein HTTP-Client verfügbar");
  if (releases_.Active()) {
    log_.Log(L"Prüfe auf neue Version.");
    const std::optional<VerifiedRelease> verified = releases_.Fetch();
    if (verified) online_ = verified->release.version;
    return online_;
  }
  std::unique_ptr<HttpSession> client = platform_.http->Create(konfiguration_.ProxyAnmeldung());
  try {
    log_.Log(L"Prüfe auf neue Version.");
    std::wstring text = FetchVersionText(*client);
    client.reset();
    online_ = text;
    return text;
  } catch (const Exception& e) {
    client.reset();
    log_.NotePassing();
    log_.Log(L"Fehler beim abfragen der aktuellen Versionsnummer: " + e.Message());
    ReportOutcome(platform_.outcomes, Outcome::VersionCheckFailed, {e.Message()});
    return L"";
  }
}

std::wstring VersionCheck::ReadTargetVersion(const std::wstring& path) {
  log_.Log(L"Lese DLL-Version aus.");
  try {
    return ProductVersionText(platform_.versions, path);
  } catch (...) {
    log_.Log(L"Fehler beim auslesen der DLL-Version.");
    return L"";
  }
}

std::wstring VersionCheck::FetchVersionText(HttpSession& client) {
  const std::wstring& url = konfiguration_.URLVersionsNr();
  const Sha256Bytes digest = Sha256Digest(EncodeUtf8(url));
  const std::string source = ToHex(std::string(digest.begin(), digest.end()));
  ServiceRecords kept = records_.LoadQuietly();
  const bool conditional = !kept.versionText.empty() && kept.versionSource == source;
  if (conditional) client.AskIfChangedSince(kept.versionEtag, kept.versionLastModified);
  const HttpResponse response =
      FetchFollowingRedirects(client, ParseUrl(url), kMaxVersionBodyBytes);
  records_.Answered(url, response.status == 304 ? 200 : response.status, response.retryAfter);
  if (response.status == 304 && conditional) return kept.versionText;
  std::wstring text = DecodeBody(response, platform_.codec, kMaxVersionBodyBytes);
  // Only a text a later check can stand on: a success, short, on one line, with a validator.
  const std::wstring etag = IsStrongEtag(response.etag) ? response.etag : L"";
  const bool keep = response.status >= 200 && response.status <= 299 && !text.empty() &&
                    text.size() <= 64 && text.find_first_of(L"\r\n\t") == std::wstring::npos &&
                    (!etag.empty() || !response.lastModified.empty()) &&
                    response.lastModified.find_first_of(L"\r\n") == std::wstring::npos;
  kept = records_.LoadQuietly();
  ServiceRecords changed = kept;
  changed.versionText = keep ? text : L"";
  changed.versionSource = keep ? source : "";
  changed.versionEtag = keep ? etag : L"";
  changed.versionLastModified = keep ? response.lastModified : L"";
  if (!(changed == kept)) records_.Keep(changed);
  return text;
}
