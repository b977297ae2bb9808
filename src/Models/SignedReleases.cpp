#include "Models/SignedReleases.h"

#include <algorithm>
#include <memory>

#include "Models/DLLKonfiguration.h"
#include "Models/DownloadFolder.h"
#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "Models/ServiceRecordBook.h"
#include "Models/VersionFetch.h"
#include "core/CivilTime.h"
#include "core/Exception.h"
#include "core/HttpFetch.h"
#include "core/ServiceFolderSecurity.h"
#include "core/Sha256Digest.h"
#include "core/VersionCompare.h"
#include "platform/FileSystem.h"
#include "platform/HttpTransport.h"
#include "platform/ReleaseSignatures.h"

namespace {

constexpr std::int64_t kDay = 86400;
const wchar_t kFailure[] = L"Fehler beim Prüfen der Releasedateien: ";

// A refusal of a file: not passing, since it is what an attack looks like.
struct RefusedFile {
  std::wstring reason;
};

std::string RawSha256(const std::string& bytes) {
  const Sha256Bytes d = Sha256Digest(bytes);
  return std::string(d.begin(), d.end());
}

}  // namespace

SignedReleases::SignedReleases(const EnginePlatform& platform,
                               const TDLLKonfiguration& konfiguration, RunLogLines& log,
                               ServerAnswers& answers, ServiceRecordBook& records,
                               DownloadFolder& folder)
    : platform_(platform),
      konfiguration_(konfiguration),
      log_(log),
      answers_(answers),
      records_(records),
      folder_(folder) {}

bool SignedReleases::Active() const { return !konfiguration_.Releaseschluessel().empty(); }

std::int64_t SignedReleases::NowUnix() const { return EpochSeconds(platform_.clock->UtcNow()); }

std::optional<VerifiedRelease> SignedReleases::Fetch() { return Verify(Lines::Always); }

// Every verification of the files; `lines` says when the "geprüft" line is written.
std::optional<VerifiedRelease> SignedReleases::Verify(Lines lines) {
  current_.reset();
  validNow_ = false;
  refusedAsOlder_ = false;
  const ServiceRecords before = records_.LoadQuietly();
  std::wstring failure;
  bool passing = false;
  std::optional<VerifiedRelease> verified = FetchVerified(failure, passing);
  if (!verified) {
    if (passing) log_.NotePassing();
    log_.Log(kFailure + failure);
    ReportOutcome(platform_.outcomes, Outcome::ReleaseRefused, {failure});
    WarnWhenFrozen();
    return std::nullopt;
  }
  validNow_ = true;
  current_ = verified;
  if (lines == Lines::Always || verified->timestamp.cap != before.rolloutCap ||
      verified->release.sequence != before.releaseSequence) {
    log_.Log(L"Releasedateien geprüft: Release " + std::to_wstring(verified->release.sequence) +
             L", Version " + verified->release.version + L", Zeitstempel " +
             std::to_wstring(verified->timestamp.sequence) + L", Deckel " +
             std::to_wstring(verified->timestamp.cap) + L" %.");
  }
  return current_;
}

void SignedReleases::Refresh() {
  if (!Active()) return;
  const std::optional<VerifiedRelease> verified = Verify(Lines::WhenChanged);
  if (verified && verified->timestamp.cap == 0) DropWaitingDownload();
}

// Every check in order; the kept state changes only after both files passed.
std::optional<VerifiedRelease> SignedReleases::FetchVerified(std::wstring& failure, bool& passing) {
  if (platform_.releaseSignatures == nullptr) {
    failure = L"Keine Prüfung von Signaturen verfügbar.";
    return std::nullopt;
  }
  ReleaseSignatures& signatures = *platform_.releaseSignatures;
  const SignatureCheck check = [&signatures](const std::string& key, const std::string& message,
                                             const std::string& signature) {
    return signatures.Verify(key, message, signature);
  };
  const std::vector<std::string>& releaseKeys = konfiguration_.Releaseschluessel();
  ServiceRecords records = records_.Load();
  const ReleaseState stored{records.timestampSequence, records.releaseSequence,
                            FromHex(records.releaseSha256)};
  const std::int64_t now = NowUnix();
  try {
    HttpResponse answer;
    const std::string timestampBytes =
        FetchFile(kTimestampFileName, kMaxTimestampFileBytes, L"Zeitstempel", &records, answer);
    // The release the timestamp names, kept or fetched, before its signer is known: an online
    // key that only a new release lists signs the timestamp that announces it.
    std::string named;
    try {
      named = ParseTimestampPayload(ParseSignedEnvelope(timestampBytes).payload).releaseSha256;
    } catch (const Exception&) {
    }
    std::optional<std::string> releaseBytes;
    std::optional<RefusedFile> releaseFailure;
    std::optional<Exception> releaseTransport;
    if (!named.empty()) {
      if (named == stored.releaseSha256)
        releaseBytes = StoredFile(kReleaseFileName, records.releaseSha256);
      if (!releaseBytes) {
        try {
          HttpResponse ignored;
          releaseBytes =
              FetchFile(kReleaseFileName, kMaxReleaseFileBytes, L"Releasedatei", nullptr, ignored);
        } catch (const RefusedFile& refused) {
          releaseFailure = refused;
        } catch (const Exception& e) {
          releaseTransport = e;
        }
      }
    }
    const TimestampVerdict t = CheckTimestamp(
        timestampBytes, TimestampSigners(releaseBytes, releaseKeys, check), stored, now, check);
    if (t.refusal) throw RefusedFile{t.refusal->reason};
    if (releaseFailure) throw *releaseFailure;
    if (releaseTransport) throw *releaseTransport;
    const ReleaseVerdict r =
        CheckRelease(*releaseBytes, *t.timestamp, releaseKeys, stored, now, check);
    if (r.refusal) throw RefusedFile{r.refusal->reason};
    // Both passed: now they are kept.
    if (RawSha256(*releaseBytes) != stored.releaseSha256) KeepFile(kReleaseFileName, *releaseBytes);
    if (t.timestamp->sequence != stored.timestampSequence) {
      KeepFile(kTimestampFileName, timestampBytes);
    }
    records = records_.Load();
    records.timestampSequence = t.timestamp->sequence;
    records.releaseSequence = r.release->sequence;
    records.releaseSha256 = ToHex(RawSha256(*releaseBytes));
    records.rolloutCap = t.timestamp->cap;
    records.timestampValidUntilUnix = t.timestamp->expiresUnix;
    records.timestampMissingSinceUnix = 0;
    records.frozenWarnedUnix = 0;
    if (answer.status != 304) {
      records.timestampEtag = IsStrongEtag(answer.etag) ? answer.etag : L"";
      records.timestampLastModified = answer.lastModified;
    }
    records_.Keep(records);
    return VerifiedRelease{*r.release, *t.timestamp};
  } catch (const RefusedFile& refused) {
    failure = refused.reason;
  } catch (const Exception& e) {
    failure = e.Message();
    passing = true;
  }
  if (records.timestampValidUntilUnix == 0 && records.timestampMissingSinceUnix == 0) {
    records.timestampMissingSinceUnix = now;
    records_.Keep(records);
  }
  return std::nullopt;
}

// The cap holds on the wire. A status other than 2xx (or the 304 asked for) is a passing failure,
// as for the version text.
std::string SignedReleases::FetchFile(const std::wstring& name, std::size_t cap,
                                      const wchar_t* what, const ServiceRecords* since,
                                      HttpResponse& answer) {
  if (platform_.http == nullptr) throw Exception(L"Kein HTTP-Client verfügbar");
  const std::wstring url = konfiguration_.URLReleasedateien() + name;
  // Only with the file kept can a 304 stand for it.
  std::optional<std::string> kept;
  if (since && (!since->timestampEtag.empty() || !since->timestampLastModified.empty())) {
    kept = StoredFile(name, "");
  }
  std::unique_ptr<HttpSession> client = platform_.http->Create(konfiguration_.ProxyAnmeldung());
  if (kept) client->AskIfChangedSince(since->timestampEtag, since->timestampLastModified);
  try {
    answer = FetchFollowingRedirects(*client, ParseUrl(url), cap);
  } catch (const Exception& e) {
    if (e.Message() == BodyTooLargeMessage(cap)) {
      throw RefusedFile{std::wstring(what) + L" zu groß: mehr als " + std::to_wstring(cap) +
                        L" Bytes."};
    }
    throw;
  }
  answers_.Answered(url, answer.status == 304 ? 200 : answer.status, answer.retryAfter);
  if (answer.status == 304 && kept) return *kept;
  if (answer.status < 200 || answer.status > 299) {
    throw Exception(std::wstring(what) + L" nicht erhalten: Status " +
                    std::to_wstring(answer.status) + L" (" + url + L").");
  }
  if (!answer.contentEncoding.empty() && answer.contentEncoding != L"identity") {
    throw Exception(std::wstring(what) + L" mit unerwarteter Kodierung \"" +
                    answer.contentEncoding + L"\" (" + url + L").");
  }
  return answer.body;
}

std::optional<std::string> SignedReleases::StoredFile(const std::wstring& name,
                                                      const std::string& sha256Hex) {
  if (platform_.files == nullptr) return std::nullopt;
  const std::wstring path = konfiguration_.Downloadpfad() + name;
  try {
    const std::optional<OwnedFile> file = platform_.files->ReadWholeWithOwner(path);
    if (!file || file->linked ||
        !IsTrustedOwner(file->ownerSid, platform_.files->OwnAccountSid()) ||
        (!sha256Hex.empty() && ToHex(RawSha256(file->bytes)) != sha256Hex)) {
      return std::nullopt;
    }
    return file->bytes;
  } catch (const Exception&) {
    return std::nullopt;
  }
}

void SignedReleases::KeepFile(const std::wstring& name, const std::string& bytes) {
  if (records_.OnlyReading()) return;
  const std::wstring path = konfiguration_.Downloadpfad() + name;
  const std::wstring temp = path + L".neu";
  FileSystem& files = *platform_.files;
  try {
    if (!files.DirectoryExists(konfiguration_.Downloadpfad())) folder_.Create();
    if (!folder_.Protect()) return;
    files.RemoveIfExists(temp);
    files.AppendDurably(temp, bytes);
    files.ReplaceWith(temp, path);
  } catch (const Exception& e) {
    files.RemoveIfExists(temp);
    // The next check fetches the file again.
    log_.Log(L"Warnung: Die Datei " + name + L" konnte nicht gespeichert werden: " + e.Message());
  }
}

void SignedReleases::WarnWhenFrozen() {
  ServiceRecords records = records_.Load();
  const std::int64_t now = NowUnix();
  const ReleaseFreshness f = JudgeFreshness(records, false, true, now);
  if (!f.frozen || (records.frozenWarnedUnix > 0 && now - records.frozenWarnedUnix < kDay &&
                    records.frozenWarnedUnix <= now)) {
    return;
  }
  const std::wstring hours = std::to_wstring(f.missingSeconds / 3600);
  log_.Log(L"Warnung: Seit " + hours +
           L" Stunden liegt kein gültiger Zeitstempel vor; der Update-Server liefert "
           L"möglicherweise einen eingefrorenen Stand.");
  ReportOutcome(platform_.outcomes, Outcome::ReleaseFrozen,
                {hours, std::to_wstring(records.releaseSequence)});
  records.frozenWarnedUnix = now;
  records_.Keep(records);
}

void SignedReleases::RefuseOlderThanInstalled(const std::wstring& installed) {
  const std::wstring reason = L"Releaseversion " + current_->release.version +
                              L" älter als bekannt: installiert ist " + installed + L".";
  log_.Log(kFailure + reason);
  ReportOutcome(platform_.outcomes, Outcome::ReleaseRefused, {reason});
  refusedAsOlder_ = true;
}

bool SignedReleases::Revoked(const std::wstring& version) const {
  return current_ && IsRevoked(current_->release, version);
}

bool SignedReleases::HoldsBack(bool skipRamp) {
  if (!current_) return false;
  if (refusedAsOlder_) return true;
  const RolloutDecision d = DecideRollout(platform_.machineIdentity, current_->release,
                                          current_->timestamp.cap, NowUnix());
  if (d.halted) {
    log_.Log(L"Rollout angehalten (Deckel 0 %): Version " + current_->release.version +
             L" wird nicht installiert.");
    DropWaitingDownload();
    return true;
  }
  if (d.install || skipRamp) return false;
  log_.Log(L"Rollout bei " + std::to_wstring(d.percent) + L" %: dieser Rechner (Platz " +
           std::to_wstring(d.bucket) + L") ist für Version " + current_->release.version +
           L" noch nicht an der Reihe.");
  return true;
}

bool SignedReleases::StillAllowed(bool skipRamp) {
  if (!Active() || !current_) return true;
  const ReleaseInfo before = current_->release;
  if (!Verify(Lines::WhenChanged)) return false;
  if (current_->release.sequence != before.sequence) {
    log_.Log(L"Rollout: Seit dem Download gilt Release " +
             std::to_wstring(current_->release.sequence) +
             L"; die heruntergeladene DLL wird nicht installiert.");
    return false;
  }
  return !HoldsBack(skipRamp);
}

void SignedReleases::NoteInstalled() {
  if (!current_) return;
  ServiceRecords records = records_.Load();
  records.installedReleaseSequence = current_->release.sequence;
  records_.Keep(records);
}

ReleaseFreshness SignedReleases::Freshness(bool installedIsCurrent) {
  if (!Active()) return {};
  return JudgeFreshness(records_.LoadQuietly(), validNow_, installedIsCurrent, NowUnix());
}

// A halt also stops what waits: the last download is not kept for a later install.
void SignedReleases::DropWaitingDownload() {
  if (platform_.files == nullptr || records_.OnlyReading()) return;
  if (!platform_.files->FileExists(konfiguration_.DLLDownloadpfad())) return;
  platform_.files->RemoveIfExists(konfiguration_.DLLDownloadpfad());
  log_.Log(L"Die heruntergeladene DLL wird verworfen.");
}
