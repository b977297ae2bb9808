#pragma once
// Downloads a file with urlmon's URLDownloadToFileW.

#include "platform/Downloader.h"

class UrlmonDownloader : public Downloader {
 public:
  void Download(const std::wstring& url, const std::wstring& file) override;
};
