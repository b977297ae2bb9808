#pragma once
// Downloads a file with urlmon's URLDownloadToFileW, within the limits: an https address is first
// followed to its end over WinHTTP by the rules that never leave https (urlmon may follow
// redirects without reporting them); the transfer itself runs on a worker thread with its own COM
// apartment while the calling thread waits without dispatching its messages, and a progress
// callback ends it at the first limit broken. The bytes arrive in a file of their own beside
// `file` and replace `file` only when the transfer succeeded.

#include "platform/Downloader.h"
#include "win32/WinHttpClient.h"

class UrlmonDownloader : public Downloader {
 public:
  void Download(const std::wstring& url, const std::wstring& file,
                const DownloadLimits& limits) override;

 private:
  WinHttpClientFactory http_;
};
