#pragma once
// The records the service keeps between cycles, as the engine uses them: a version the status
// page rejected, when this host first saw the published version (the update ring), and a
// server's request to be left alone (Retry-After). What cannot be trusted is logged as a warning
// and left out; nothing is written while only checking.

#include <cstdint>
#include <string>

#include "Models/EnginePlatform.h"
#include "core/ServiceRecords.h"

class DownloadFolder;
class RunLogLines;
class TDLLKonfiguration;

// Told of every answer of the update server: anything but 2xx makes a failure passing, and a 429
// or 503 with a Retry-After is kept.
class ServerAnswers {
 public:
  virtual ~ServerAnswers() = default;
  virtual void Answered(const std::wstring& url, int status, const std::wstring& retryAfter) = 0;
};

class ServiceRecordBook : public ServerAnswers {
 public:
  ServiceRecordBook(const EnginePlatform& platform, const TDLLKonfiguration& konfiguration,
                    DownloadFolder& folder, RunLogLines& log);

  // /CHECK: records are read, never written.
  void OnlyRead() { onlyRead_ = true; }
  bool OnlyReading() const { return onlyRead_; }
  void Answered(const std::wstring& url, int status, const std::wstring& retryAfter) override;

  ServiceRecords Load();
  // As Load, without a word in the run log (for the status after the cycle).
  ServiceRecords LoadQuietly();
  // Writes the records into the protected download folder (made when missing); nothing while only
  // checking. A failure is logged.
  void Keep(const ServiceRecords& records);
  // Unix seconds until which a server of this configuration asked to be left alone; 0 when none.
  std::int64_t ServerPauseUntil();

  // Before the download of a due update: whether the published version is a build that failed
  // after it was tried (logged). Its wait over, it is tried again (announced by an outcome);
  // within its wait only another build of the version may go on (see HoldsBackBuild). Another
  // published version removes the record.
  void CheckRejected(const std::wstring& onlineVersion, bool updateDue);
  void AllowRejected() { allowRejected_ = true; }
  // After the download (sha256: its 32 raw bytes): whether it is the build that waits (logged).
  bool HoldsBackBuild(const std::wstring& onlineVersion, const std::string& sha256);
  // The build (sha256: 32 raw bytes) failed now; logs when it is tried again.
  void RecordFailure(const std::wstring& version, const std::string& sha256, RejectionCause cause);
  void ForgetRejected();
  // When the rejected build is tried again, as the run log shows times; "" when nothing waits.
  std::wstring RetryTimeText(const ServiceRecords& records);

  // Whether the update ring holds the version back (VERZOEGERUNG); logs from when it will be
  // installed. Keeps when it was first seen.
  bool RingHoldsBack(const std::wstring& onlineVersion);
  void SkipRing() { skipRing_ = true; }

 private:
  void Save(const ServiceRecords& records);
  // For records that may come before the first download: the protected folder is made for them.
  void SaveInProtectedFolder(const ServiceRecords& records);
  std::int64_t NowUnix() const;
  std::wstring LocalTimeText(std::int64_t unix) const;

  const EnginePlatform& platform_;
  const TDLLKonfiguration& konfiguration_;
  DownloadFolder& folder_;
  RunLogLines& log_;
  bool onlyRead_ = false;
  bool allowRejected_ = false;
  bool skipRing_ = false;
  std::string waitingBuild_;  // the hex SHA-256 of the build within its wait, for this cycle
  std::int64_t waitingUntil_ = 0;
};
