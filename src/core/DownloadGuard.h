#pragma once
// The limits of the DLL download and the rules that end a transfer early: too many bytes, a
// transfer that stalls or runs too long in all, a stop of the service, a redirect that leaves
// https. The download component reports
// each redirect and its progress here and ends the transfer on the first reason it gets back.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/DownloadProgress.h"

struct DownloadLimits {
  std::uint64_t maxBytes = 256ull * 1024 * 1024;
  ProgressRule progress;
  // Polled during the transfer; true ends it. May be empty.
  std::function<bool()> abortRequested;
  // PROXYANMELDUNG=JA: an administrator's proxy that demands a logon gets the machine's identity.
  bool proxyLogon = false;
};

// Raises Exception unless the address is an absolute http or https URL.
void RequireWebAddress(const std::wstring& url);

// Whether going from `from` to `to` would leave https for another scheme (compared without case).
bool LeavesHttps(const std::wstring& from, const std::wstring& to);

class DownloadGuard {
 public:
  // startMilliseconds: the transfer's start on the clock that later calls use.
  DownloadGuard(std::wstring url, DownloadLimits limits, std::uint64_t startMilliseconds);

  // The transfer goes on from `bytes` held by an earlier attempt: from now on they count toward
  // the size cap together with the bytes of this attempt (the time limits are this attempt's).
  void CountHeld(std::uint64_t bytes) { held_ = bytes; }

  // A redirect to newUrl is about to be followed.
  std::optional<std::wstring> OnRedirect(const std::wstring& newUrl);
  // bytes received so far by this attempt, the size the server announced for them (0 when
  // unknown), the time now.
  std::optional<std::wstring> OnProgress(std::uint64_t bytes, std::uint64_t announced,
                                         std::uint64_t nowMilliseconds);
  // The file that was saved has `bytes` (checked again after the transfer: progress reports are
  // not promised for every byte).
  std::optional<std::wstring> OnFinished(std::uint64_t bytes, std::uint64_t nowMilliseconds);

  // The latest time at which a transfer without new bytes still passes: a reader that waits for
  // data need not wait past it.
  std::uint64_t DeadlineMilliseconds() const { return progress_.DeadlineMilliseconds(); }

  // The first reason given, if any: once given, every later call gives it again.
  const std::optional<std::wstring>& Reason() const { return reason_; }

 private:
  std::optional<std::wstring> Refuse(std::wstring reason);
  std::optional<std::wstring> CheckTimeAndStop(std::uint64_t bytes, std::uint64_t nowMilliseconds);
  bool BeyondCap(std::uint64_t bytes) const;

  std::wstring current_;  // the address being fetched, after the redirects so far
  DownloadLimits limits_;
  ProgressWatch progress_;
  std::uint64_t held_ = 0;  // bytes of an earlier attempt that this one continues
  std::optional<std::wstring> reason_;
};
