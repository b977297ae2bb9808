#pragma once
// The version check: fetches the published version text, reads the product version of every
// target DLL and decides whether an update is due.

#include <string>
#include <vector>

#include "Models/EnginePlatform.h"

class HttpSession;

class RunLogLines;
class ServiceRecordBook;
class SignedReleases;
class TDLLKonfiguration;

// What the last version check found for one target DLL.
struct ZielBefund {
  std::wstring pfad;
  std::wstring version;  // the product version text; empty when it could not be read
  bool aelter = false;   // older than the online version: the update replaces it
  bool neuer = false;    // newer than the online version: the update leaves it as it is
};

// The product version of the file as text, "" when it has none. Raises Exception when no version
// reader is there or the file cannot be read.
std::wstring ProductVersionText(VersionReader* versions, const std::wstring& path);

class VersionCheck {
 public:
  VersionCheck(const EnginePlatform& platform, const TDLLKonfiguration& konfiguration,
               RunLogLines& log, ServiceRecordBook& records, SignedReleases& releases);

  // Answers whether any target is older than the published version; logs the verdict.
  bool Run();
  // Fetches the published version text, or with a release key the verified release's version;
  // logs a failure and answers "".
  std::wstring FetchOnline();
  // The online version text of the last check whose fetch succeeded; empty when the last fetch
  // failed or none was made. The download accepts only a DLL of exactly this product version.
  const std::wstring& OnlineVersion() const { return online_; }
  // One entry per target the last check read, in list order; complete only when the check ran
  // to its verdict.
  const std::vector<ZielBefund>& Findings() const { return findings_; }

 private:
  std::wstring ReadTargetVersion(const std::wstring& path);
  // The GET of the version text, asking only for a change when a text is kept for this address;
  // a 304 answers the kept text. A new text with a validator is kept.
  std::wstring FetchVersionText(HttpSession& client);

  const EnginePlatform& platform_;
  const TDLLKonfiguration& konfiguration_;
  RunLogLines& log_;
  ServiceRecordBook& records_;
  SignedReleases& releases_;
  std::wstring online_;
  std::vector<ZielBefund> findings_;
};
