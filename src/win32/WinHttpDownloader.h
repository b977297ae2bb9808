#pragma once
// Downloads the DLL over WinHTTP, the client of the version check: the same proxy setting, the
// same User-Agent, redirects followed by our own rules (at most 5, never from https to another
// scheme), and no cached copy of any body. The transfer runs on a worker thread while the calling
// thread waits without dispatching its messages and asks the guard four times a second; the first
// limit broken (the size as the bytes arrive, a stalled or overlong transfer, a stop request) ends
// the request, so the connection is closed on the wire. An administrator's proxy that demands a
// logon (407) gets the machine's identity once, as the version check answers it, only with
// limits.proxyLogon; a 407 that remains fails with its own message. Any other final answer
// other than 2xx raises ServerRefusal with its status and Retry-After. Every request says
// "Accept-Encoding: identity"; one for the rest of a partial file adds Range and If-Range, and
// its answer is judged by core/ResumeRule.h. The bytes arrive in `file` itself and are flushed
// before the call returns or raises; a transfer left to end alone (it did not let go within 10 s
// of being told to end) leaves nothing worth keeping.

#include "platform/Downloader.h"

class WinHttpDownloader : public Downloader {
 public:
  void Download(const std::wstring& url, const std::wstring& file, const DownloadLimits& limits,
                PartialTransfer& partial) override;
};
