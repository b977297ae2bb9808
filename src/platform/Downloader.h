#pragma once
// Downloads a URL into a file.

#include <string>

class Downloader {
 public:
  virtual ~Downloader() = default;
  // Returns when the transfer has ended. Raises Exception with a message when the platform
  // reports a failure. A success says nothing about what was saved: the caller verifies the file.
  virtual void Download(const std::wstring& url, const std::wstring& file) = 0;
};
