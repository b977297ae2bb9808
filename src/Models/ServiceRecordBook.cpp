#include "Models/ServiceRecordBook.h"

#include <cwctype>

#include "Models/DLLKonfiguration.h"
#include "Models/DownloadFolder.h"
#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "Models/ServiceRecordStore.h"
#include "core/CivilTime.h"
#include "core/DateTimeFormat.h"
#include "core/Exception.h"
#include "core/RejectionBackoff.h"
#include "core/RetryPolicy.h"
#include "core/ServerRefusal.h"
#include "core/UpdateRing.h"
#include "core/Url.h"
#include "core/VersionCompare.h"
#include "platform/FileSystem.h"

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
// How the run log and the event name why a build was set aside.
struct CauseWords {
  const wchar_t* phrase;  // the run log's, after the version
  const wchar_t* name;    // the event's
};

CauseWords WordsOf(RejectionCause cause) {
  switch (cause) {
    case RejectionCause::LoadProbe:
      return {L" ließ sich in der Ladeprobe nicht laden", L"Ladeprobe"};
    case RejectionCause::Recycle:
      return {L" wurde nach dem gescheiterten Neustart der Anwendungspools zurückgenommen",
              L"Neustart der Anwendungspools"};
    case RejectionCause::StatusPage:
      break;
  }
  return {L" wurde nach der Prüfung der Statusseite zurückgenommen", L"Statusseite"};
}
}  // namespace

ServiceRecordBook::ServiceRecordBook(const EnginePlatform& platform,
                                     const TDLLKonfiguration& konfiguration, DownloadFolder& folder,
                                     RunLogLines& log)
    : platform_(platform), konfiguration_(konfiguration), folder_(folder), log_(log) {}

ServiceRecords ServiceRecordBook::Load() {
  if (platform_.files == nullptr) return {};
  std::vector<std::wstring> ignored;
  ServiceRecords records =
      ServiceRecordStore(*platform_.files, konfiguration_.Downloadpfad()).Load(ignored);
  for (const std::wstring& reason : ignored) {
    log_.Log(L"Warnung: Aufzeichnungen nicht verwendet: " + reason + L".");
  }
  return records;
}

ServiceRecords ServiceRecordBook::LoadQuietly() {
  if (platform_.files == nullptr) return {};
  std::vector<std::wstring> ignored;
  return ServiceRecordStore(*platform_.files, konfiguration_.Downloadpfad()).Load(ignored);
}

void ServiceRecordBook::Keep(const ServiceRecords& records) {
  if (!onlyRead_) SaveInProtectedFolder(records);
}

void ServiceRecordBook::Save(const ServiceRecords& records) {
  try {
    ServiceRecordStore(*platform_.files, konfiguration_.Downloadpfad()).Save(records);
  } catch (const Exception& e) {
    log_.Log(L"Fehler beim Schreiben der Aufzeichnungen: " + e.Message());
  }
}

void ServiceRecordBook::SaveInProtectedFolder(const ServiceRecords& records) {
  const std::wstring& folder = konfiguration_.Downloadpfad();
  try {
    if (!platform_.files->DirectoryExists(folder)) folder_.Create();
  } catch (const Exception& e) {
    log_.Log(L"Fehler beim Schreiben der Aufzeichnungen: " + e.Message());
    return;
  }
  if (folder_.Protect()) Save(records);
}

std::int64_t ServiceRecordBook::NowUnix() const { return EpochSeconds(platform_.clock->UtcNow()); }

std::wstring ServiceRecordBook::LocalTimeText(std::int64_t unix) const {
  // The local clock's distance from UTC now, as the run log's time stamps show local time.
  const std::int64_t offset =
      EpochSeconds(platform_.clock->Now()) - EpochSeconds(platform_.clock->UtcNow());
  return FormatTimeStamp(TimeFromEpochSeconds(unix + offset), platform_.regional);
}

void ServiceRecordBook::Answered(const std::wstring& url, int status,
                                 const std::wstring& retryAfter) {
  if (!IsSuccessStatus(status)) log_.NotePassing();
  if (!IsComeBackLaterStatus(status) || platform_.files == nullptr || onlyRead_) return;
  const std::optional<std::int64_t> until = RetryAfterUntil(retryAfter, NowUnix());
  const std::wstring server = ServerOf(url);
  if (!until || server.empty()) return;
  ServiceRecords records = Load();
  records.pausedServer = server;
  records.pauseUntilUnix = *until;
  SaveInProtectedFolder(records);
}

std::int64_t ServiceRecordBook::ServerPauseUntil() {
  if (platform_.files == nullptr || platform_.clock == nullptr) return 0;
  const ServiceRecords records = Load();
  if (records.pausedServer.empty()) return 0;
  const std::int64_t now = NowUnix();
  // Only a pause of a server this configuration asks, and never further ahead than a server
  // may ask for: anything else was not written for this configuration.
  if (records.pausedServer != ServerOf(konfiguration_.URLVersionsNr()) &&
      records.pausedServer != ServerOf(konfiguration_.URLKorvalAppServerDLL())) {
    return 0;
  }
  if (records.pauseUntilUnix <= now) return 0;
  if (records.pauseUntilUnix - now > kMaxRetryAfterSeconds) {
    log_.Log(L"Warnung: Aufzeichnungen nicht verwendet: PAUSE_BIS liegt zu weit in der Zukunft.");
    return 0;
  }
  return records.pauseUntilUnix;
}

void ServiceRecordBook::RecordFailure(const std::wstring& version, const std::string& sha256,
                                      RejectionCause cause) {
  if (platform_.files == nullptr || onlyRead_) return;
  const ServiceRecords records = WithFailedBuild(Load(), version, ToHex(sha256), cause, NowUnix());
  Save(records);
  log_.Log(L"Derselbe Build der Version " + version + L" wird frühestens ab " +
           RetryTimeText(records) + L" erneut versucht.");
}

void ServiceRecordBook::ForgetRejected() {
  ServiceRecords records = Load();
  if (records.rejectedVersion.empty()) return;
  records.rejectedVersion.clear();
  records.rejectedSha256.clear();
  records.rejectedFailures = 0;
  records.rejectedAtUnix = 0;
  records.rejectedCause = RejectionCause::StatusPage;
  Save(records);
}

std::wstring ServiceRecordBook::RetryTimeText(const ServiceRecords& records) {
  const RejectionDecision decision =
      DecideRejection(records, records.rejectedVersion, NowUnix(), IsSameVersion);
  return decision.verdict == RejectionVerdict::None ? L"" : LocalTimeText(decision.retryAtUnix);
}

void ServiceRecordBook::CheckRejected(const std::wstring& onlineVersion, bool updateDue) {
  waitingBuild_.clear();
  if (onlineVersion.empty() || platform_.files == nullptr) return;
  ServiceRecords records = Load();
  if (records.rejectedVersion.empty()) return;
  if (!IsSameVersion(records.rejectedVersion, onlineVersion)) {
    // Another version is published: the rejection has served its purpose.
    ForgetRejected();
    return;
  }
  if (!updateDue) return;
  const std::int64_t now = NowUnix();
  const RejectionDecision decision = DecideRejection(records, onlineVersion, now, IsSameVersion);
  if (decision.restamp && !onlyRead_) {
    // The wait of a record without its time (or with one ahead of the clock) begins now.
    records.rejectedFailures = decision.attempt - 1;
    records.rejectedAtUnix = now;
    Save(records);
  }
  const std::wstring line =
      L"Die Version " + records.rejectedVersion + WordsOf(records.rejectedCause).phrase + L"; ";
  if (allowRejected_) {
    log_.Log(line + L"sie wird auf Anweisung erneut installiert.");
  } else if (decision.verdict == RejectionVerdict::Retry) {
    log_.Log(line + L"sie wird nach der Wartezeit erneut versucht (Versuch " +
             std::to_wstring(decision.attempt) + L").");
    ReportOutcome(platform_.outcomes, Outcome::RejectedBuildRetried,
                  {records.rejectedVersion, std::to_wstring(decision.attempt),
                   WordsOf(records.rejectedCause).name});
  } else {
    log_.Log(line + L"derselbe Build wird nicht vor " + LocalTimeText(decision.retryAtUnix) +
             L" erneut installiert.");
    waitingBuild_ = records.rejectedSha256;
    waitingUntil_ = decision.retryAtUnix;
  }
}

bool ServiceRecordBook::HoldsBackBuild(const std::wstring& onlineVersion,
                                       const std::string& sha256) {
  if (waitingBuild_.empty()) return false;
  const std::string hex = ToHex(sha256);
  const std::wstring build = L" (SHA-256 " + std::wstring(hex.begin(), hex.end()) + L")";
  if (hex != waitingBuild_) {
    log_.Log(L"Der Download ist ein neuer Build der Version " + onlineVersion + build +
             L"; er wird installiert.");
    return false;
  }
  log_.Log(L"Der Download ist derselbe Build der Version " + onlineVersion + build +
           L"; er wird nicht vor " + LocalTimeText(waitingUntil_) + L" installiert.");
  return true;
}

bool ServiceRecordBook::RingHoldsBack(const std::wstring& onlineVersion) {
  const std::int32_t hours = konfiguration_.Verzoegerung();
  if (hours <= 0 || skipRing_ || onlineVersion.empty() || platform_.files == nullptr) return false;
  ServiceRecords records = Load();
  std::optional<SeenVersion> seen;
  if (!records.seenVersion.empty()) seen = SeenVersion{records.seenVersion, records.seenSinceUnix};
  const RingDecision ring = DecideRing(seen, onlineVersion, NowUnix(), hours);
  if (!onlyRead_ && (!seen || !(ring.record == *seen))) {
    records.seenVersion = ring.record.version;
    records.seenSinceUnix = ring.record.firstSeenUnix;
    SaveInProtectedFolder(records);
  }
  if (ring.install) return false;
  log_.Log(L"Die Version " + onlineVersion + L" wird ab " + LocalTimeText(ring.installFrom) +
           L" installiert.");
  return true;
}
