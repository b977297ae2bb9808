#pragma once
// Downloads a URL into a file, within limits.

#include <string>

#include "core/DownloadGuard.h"

class Downloader {
 public:
  virtual ~Downloader() = default;
  // Returns when the transfer has ended. Raises Exception with a message when the platform
  // reports a failure, and with the guard's reason when the transfer broke one of the limits (it
  // is then ended at once). A final answer that is no success (2xx) raises ServerRefusal with
  // the status and the Retry-After header. A success says nothing about what was saved: the
  // caller verifies the file. A partial file may be left behind on failure; the caller removes
  // it.
  virtual void Download(const std::wstring& url, const std::wstring& file,
                        const DownloadLimits& limits) = 0;
};
