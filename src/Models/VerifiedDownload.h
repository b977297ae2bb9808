#pragma once
// The download of the new DLL into the protected download folder, checked before anything on the
// site changes, and held from before its first check to the end of the exchange so that nobody
// can write, rename or replace it: the bytes checked are the bytes installed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Models/EnginePlatform.h"
#include "core/DownloadGuard.h"

class DownloadFolder;
class HeldFile;
class PartialDownload;
class RunLogLines;
class ServerAnswers;
class TDLLKonfiguration;
struct ReleaseInfo;

class VerifiedDownload {
 public:
  VerifiedDownload(const EnginePlatform& platform, const TDLLKonfiguration& konfiguration,
                   DownloadFolder& folder, RunLogLines& log, ServerAnswers& answers);
  ~VerifiedDownload();

  // Downloads the DLL and checks it against the published version; every failure is logged and
  // leaves nothing held. With a verified release the DLL comes from its URL, its size is the cap
  // on the wire and its SHA-256 must be the release's. A transfer that ends early leaves its
  // bytes for the next call, which asks only for the rest where the server lets it
  // (core/ResumeRule.h, Models/PartialDownload.h); the whole file is checked all the same.
  // With a release that names patches, a patch from one of the `installed` copies (paths) comes
  // instead when it can, and the whole DLL when it cannot.
  void Fetch(const std::wstring& onlineVersion, const ReleaseInfo* release = nullptr,
             const std::vector<std::wstring>& installed = {});
  // With a release: the bytes a patch saved in the last download (0: the whole DLL came); none
  // without a release or a download.
  const std::optional<std::uint64_t>& PatchSaved() const { return patchSaved_; }
  // Set only when the last download passed every check: the site may be stopped for it.
  bool Ready() const { return held_ != nullptr; }
  HeldFile& Held() { return *held_; }
  // The SHA-256 (32 raw bytes) of the held download.
  const std::string& Sha256() const { return sha256_; }
  // Lets go of the verified download, which then takes the download's usual name.
  void Release();
  // Lets go of it and removes it: it is not to be installed.
  void Drop();

 private:
  std::unique_ptr<HeldFile> Hold(const std::wstring& file);
  void Check(const std::wstring& file, HeldFile& held, const std::wstring& onlineVersion);
  void CheckMachineType(const std::string& head);
  void CheckSignature(const std::wstring& file, HeldFile& held);
  // expectedSize: the release's size, 0 when not known.
  void Transfer(const std::wstring& url, PartialDownload& partial, std::uint64_t expectedSize);
  // The limits of every transfer: a stop of the service ends it, a proxy's logon as configured.
  DownloadLimits Limits() const;
  std::optional<std::uint64_t> PatchFor(const ReleaseInfo& release,
                                        const std::vector<std::wstring>& installed,
                                        const std::wstring& file);

  const EnginePlatform& platform_;
  const TDLLKonfiguration& konfiguration_;
  DownloadFolder& folder_;
  RunLogLines& log_;
  ServerAnswers& answers_;
  std::unique_ptr<HeldFile> held_;
  std::string sha256_;
  std::wstring heldPath_;  // the held download's temporary name
  std::wstring url_;       // where the last download came from
  std::optional<std::uint64_t> patchSaved_;
};
