#include "core/DownloadProgress.h"

#include <algorithm>

ProgressWatch::ProgressWatch(ProgressRule rule, std::uint64_t startMilliseconds)
    : rule_(rule), start_(startMilliseconds), windowStart_(startMilliseconds) {}

ProgressVerdict ProgressWatch::Observe(std::uint64_t bytes, std::uint64_t nowMilliseconds) {
  if (verdict_ != ProgressVerdict::Continue) return verdict_;
  // A clock that went back (a caller's mistake) never makes a window older.
  const std::uint64_t now = std::max(nowMilliseconds, windowStart_);
  // Time first: bytes that arrive after their window has run out came too late.
  if (now - start_ > rule_.maxMilliseconds) {
    verdict_ = ProgressVerdict::TooLong;
  } else if (now - windowStart_ > rule_.windowMilliseconds) {
    verdict_ = ProgressVerdict::Stalled;
  } else if (bytes >= windowBytes_ + rule_.minBytes) {
    windowStart_ = now;
    windowBytes_ = bytes;
  }
  return verdict_;
}

std::uint64_t ProgressWatch::DeadlineMilliseconds() const {
  return std::min(windowStart_ + rule_.windowMilliseconds, start_ + rule_.maxMilliseconds);
}

namespace {
std::wstring Amount(std::uint64_t milliseconds) {
  if (milliseconds % 3600000 == 0) return std::to_wstring(milliseconds / 3600000) + L" Stunden";
  if (milliseconds % 60000 == 0) return std::to_wstring(milliseconds / 60000) + L" Minuten";
  return std::to_wstring(milliseconds / 1000) + L" Sekunden";
}
}  // namespace

std::wstring ProgressFailureText(ProgressVerdict verdict, const ProgressRule& rule) {
  if (verdict == ProgressVerdict::TooLong) {
    return L"Der Download hat länger als " + Amount(rule.maxMilliseconds) + L" gedauert.";
  }
  if (verdict == ProgressVerdict::Stalled) {
    return L"Der Download stockt: in " + Amount(rule.windowMilliseconds) + L" kamen weniger als " +
           std::to_wstring(rule.minBytes / 1024) + L" KiB an.";
  }
  return L"";
}
