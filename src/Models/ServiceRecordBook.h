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
  void Answered(const std::wstring& url, int status, const std::wstring& retryAfter) override;

  ServiceRecords Load();
  // Unix seconds until which a server of this configuration asked to be left alone; 0 when none.
  std::int64_t ServerPauseUntil();

  // Whether the published version is one the status page rejected (then one line says so when an
  // update is due). A different published version removes that record.
  bool IsRejected(const std::wstring& onlineVersion, bool updateDue);
  void AllowRejected() { allowRejected_ = true; }
  // sha256: the 32 raw bytes of the rejected DLL.
  void RememberRejected(const std::wstring& version, const std::string& sha256);
  void ForgetRejected();

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
};
