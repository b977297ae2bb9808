#pragma once
// The download of the new DLL into the protected download folder, checked before anything on the
// site changes, and held from before its first check to the end of the exchange so that nobody
// can write, rename or replace it: the bytes checked are the bytes installed.

#include <memory>
#include <string>

#include "Models/EnginePlatform.h"

class DownloadFolder;
class HeldFile;
class RunLogLines;
class ServerAnswers;
class TDLLKonfiguration;

class VerifiedDownload {
 public:
  VerifiedDownload(const EnginePlatform& platform, const TDLLKonfiguration& konfiguration,
                   DownloadFolder& folder, RunLogLines& log, ServerAnswers& answers);
  ~VerifiedDownload();

  // Downloads the DLL and checks it against the published version; every failure is logged and
  // leaves nothing held.
  void Fetch(const std::wstring& onlineVersion);
  // Set only when the last download passed every check: the site may be stopped for it.
  bool Ready() const { return held_ != nullptr; }
  HeldFile& Held() { return *held_; }
  // The SHA-256 (32 raw bytes) of the held download.
  const std::string& Sha256() const { return sha256_; }
  // Lets go of the verified download, which then takes the download's usual name.
  void Release();

 private:
  std::unique_ptr<HeldFile> Hold(const std::wstring& file);
  void Check(const std::wstring& file, HeldFile& held, const std::wstring& onlineVersion);
  void CheckMachineType(const std::string& head);
  void CheckSignature(const std::wstring& file, HeldFile& held);
  void Transfer(const std::wstring& url, const std::wstring& file);

  const EnginePlatform& platform_;
  const TDLLKonfiguration& konfiguration_;
  DownloadFolder& folder_;
  RunLogLines& log_;
  ServerAnswers& answers_;
  std::unique_ptr<HeldFile> held_;
  std::string sha256_;
  std::wstring heldPath_;  // the held download's temporary name
  unsigned transfers_ = 0;
};
