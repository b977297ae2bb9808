#pragma once
// The signed release files as the engine uses them, when the administrator pins a release key:
// the timestamp fetched and verified at every check (and before the site is touched), the
// release file fetched only when the timestamp names another, everything verified before it is
// kept; the rollout brake; the warning about a frozen update server.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Models/EnginePlatform.h"
#include "core/ReleaseFiles.h"
#include "core/RolloutBrake.h"
#include "core/ServiceRecords.h"

class DownloadFolder;
struct HttpResponse;
class RunLogLines;
class ServerAnswers;
class ServiceRecordBook;
class TDLLKonfiguration;

struct VerifiedRelease {
  ReleaseInfo release;
  TimestampInfo timestamp;
};

class SignedReleases {
 public:
  SignedReleases(const EnginePlatform& platform, const TDLLKonfiguration& konfiguration,
                 RunLogLines& log, ServerAnswers& answers, ServiceRecordBook& records,
                 DownloadFolder& folder);

  bool Active() const;

  // The check's step: the timestamp and, when it names another, the release file, verified and
  // kept. A refusal or a failed fetch is logged ("Fehler beim Prüfen der Releasedateien: ...")
  // and reported; the frozen-server warning follows when it is due.
  std::optional<VerifiedRelease> Fetch();
  // Between the windows: the timestamp alone, asked only for a change. Logs only what changes
  // something (a failure, a new cap, a halt that drops a waiting download).
  void Refresh();
  const std::optional<VerifiedRelease>& Current() const { return current_; }

  // The verified release is older than an installed copy of `installed` that it does not revoke:
  // logged and reported as a refusal, and the release counts as not had.
  void RefuseOlderThanInstalled(const std::wstring& installed);

  // Whether a target of this version is to be replaced by the release even when it is newer.
  bool Revoked(const std::wstring& version) const;

  // The rollout brake for the verified release (logged when it holds back). With a cap of 0 a
  // downloaded DLL that waits is dropped. skipRamp: /UPDATE, which a halt still stops.
  bool HoldsBack(bool skipRamp);

  // Right before the site is touched: the timestamp once more. False (logged) when it halts the
  // rollout for this host or names another release than the one downloaded.
  bool StillAllowed(bool skipRamp);

  // The update of the verified release is in effect here.
  void NoteInstalled();

  ReleaseFreshness Freshness(bool installedIsCurrent);

 private:
  // Always: the "geprüft" line at every verification; WhenChanged: only for another release or
  // cap (the fetches between the windows and before the switch).
  enum class Lines { Always, WhenChanged };
  std::optional<VerifiedRelease> Verify(Lines lines);
  std::optional<VerifiedRelease> FetchVerified(std::wstring& failure, bool& passing);
  // One GET of a file of the release folder; with `since` only a changed one (a 304 answers the
  // kept file). Fills the answer's ETag and Last-Modified.
  std::string FetchFile(const std::wstring& name, std::size_t cap, const wchar_t* what,
                        const ServiceRecords* since, HttpResponse& answer);
  // A file kept in the download folder by the service (and, with sha256Hex, of that hash).
  std::optional<std::string> StoredFile(const std::wstring& name, const std::string& sha256Hex);
  void KeepFile(const std::wstring& name, const std::string& bytes);
  void WarnWhenFrozen();
  void DropWaitingDownload();
  std::int64_t NowUnix() const;

  const EnginePlatform& platform_;
  const TDLLKonfiguration& konfiguration_;
  RunLogLines& log_;
  ServerAnswers& answers_;
  ServiceRecordBook& records_;
  DownloadFolder& folder_;
  std::optional<VerifiedRelease> current_;
  bool validNow_ = false;
  bool refusedAsOlder_ = false;  // RefuseOlderThanInstalled: nothing of it is installed
};
