#pragma once
// Downloads a URL into a file, within limits, going on from a partial file where the server
// lets it (core/ResumeRule.h).

#include <string>

#include "core/DownloadGuard.h"
#include "core/ResumeRule.h"

// The partial file across one call: what it held before, what it holds after.
struct PartialTransfer {
  // In: what `file` holds already (held 0: nothing; the transfer starts from byte 0 and the file
  // is made anew). A record with held > 0 is asked for the rest by its ETag. Out, whether the
  // call returns or raises: what the file holds now; its ETag and size are the server's when the
  // record had none (the size of a record stays), held 0 when nothing is worth keeping.
  PartialRecord record;
  // Out: the server answered the request for the rest with the whole file.
  bool startedOver = false;
};

class Downloader {
 public:
  virtual ~Downloader() = default;
  // Returns when the whole file has arrived in `file`. Raises Exception with a message when the
  // platform reports a failure or the body ends early, and with the guard's reason when the
  // transfer broke one of the limits (it is then ended at once); what arrived stays in `file`
  // and partial.record says so. A final answer that is no success (2xx) raises ServerRefusal
  // with the status and the Retry-After header; an answer that does not fit the request for the
  // rest (core/ResumeRule.h) raises too, with nothing held. A success says nothing about what
  // was saved: the caller verifies the file. Every request asks for the body without a content
  // coding (Accept-Encoding: identity).
  virtual void Download(const std::wstring& url, const std::wstring& file,
                        const DownloadLimits& limits, PartialTransfer& partial) = 0;
};
