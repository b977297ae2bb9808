#include "core/DownloadGuard.h"

#include <cwctype>
#include <utility>

#include "core/Exception.h"
#include "core/HttpFetch.h"

namespace {
std::wstring SchemeOf(const std::wstring& url) {
  const std::size_t colon = url.find(L':');
  if (colon == std::wstring::npos) return L"";
  std::wstring scheme = url.substr(0, colon);
  for (wchar_t& c : scheme) c = static_cast<wchar_t>(std::towlower(c));
  return scheme;
}

std::wstring Mebibytes(std::uint64_t bytes) { return std::to_wstring(bytes / (1024 * 1024)); }
}  // namespace

void RequireWebAddress(const std::wstring& url) {
  const std::wstring scheme = SchemeOf(url);
  if ((scheme == L"http" || scheme == L"https") && url.compare(scheme.size(), 3, L"://") == 0) {
    return;
  }
  throw Exception(L"Die Adresse der DLL ist keine http- oder https-Adresse: \"" + url + L"\"");
}

bool LeavesHttps(const std::wstring& from, const std::wstring& to) {
  return SchemeOf(from) == L"https" && SchemeOf(to) != L"https";
}

DownloadGuard::DownloadGuard(std::wstring url, DownloadLimits limits,
                             std::uint64_t startMilliseconds)
    : current_(std::move(url)),
      limits_(std::move(limits)),
      progress_(limits_.progress, startMilliseconds) {}

std::optional<std::wstring> DownloadGuard::Refuse(std::wstring reason) {
  if (!reason_) reason_ = std::move(reason);
  return reason_;
}

std::optional<std::wstring> DownloadGuard::OnRedirect(const std::wstring& newUrl) {
  if (reason_) return reason_;
  const std::wstring scheme = SchemeOf(newUrl);
  if (LeavesHttps(current_, newUrl)) {
    return Refuse(DowngradeRefusedMessage(newUrl));
  }
  if (scheme != L"http" && scheme != L"https") {
    return Refuse(L"Umleitung auf eine Adresse, die weder http noch https ist, abgelehnt: \"" +
                  newUrl + L"\"");
  }
  current_ = newUrl;
  return std::nullopt;
}

std::optional<std::wstring> DownloadGuard::CheckTimeAndStop(std::uint64_t bytes,
                                                            std::uint64_t nowMilliseconds) {
  if (limits_.abortRequested && limits_.abortRequested()) {
    return Refuse(L"Der Download wurde abgebrochen, weil der Dienst beendet wird.");
  }
  const ProgressVerdict verdict = progress_.Observe(bytes, nowMilliseconds);
  if (verdict != ProgressVerdict::Continue) {
    return Refuse(ProgressFailureText(verdict, limits_.progress));
  }
  return std::nullopt;
}

bool DownloadGuard::BeyondCap(std::uint64_t bytes) const {
  return held_ > limits_.maxBytes || bytes > limits_.maxBytes - held_;
}

std::optional<std::wstring> DownloadGuard::OnProgress(std::uint64_t bytes, std::uint64_t announced,
                                                      std::uint64_t nowMilliseconds) {
  if (reason_) return reason_;
  if (BeyondCap(bytes) || BeyondCap(announced)) {
    return Refuse(L"Die DLL ist größer als " + Mebibytes(limits_.maxBytes) + L" MiB.");
  }
  return CheckTimeAndStop(bytes, nowMilliseconds);
}

std::optional<std::wstring> DownloadGuard::OnFinished(std::uint64_t bytes,
                                                      std::uint64_t nowMilliseconds) {
  return OnProgress(bytes, 0, nowMilliseconds);
}
