#include "Models/VersionFetch.h"

#include <utility>

#include "core/Exception.h"

namespace {
// Follows the redirects from url by the shared rules; answers the final response and its URL.
std::pair<HttpResponse, Url> Follow(HttpSession& session, const Url& url, std::size_t maxBytes,
                                    BodyReading reading, unsigned totalMilliseconds) {
  session.LimitTotalTime(totalMilliseconds);
  Url current = url;
  for (int followed = 0;; ++followed) {
    HttpResponse response = session.Get(current, maxBytes, reading);
    if (!IsRedirectStatus(response.status) || response.location.empty()) {
      return {std::move(response), current};
    }
    if (followed == kMaxRedirects) {
      throw Exception(L"Maximale Anzahl von Umleitungen (" + std::to_wstring(kMaxRedirects) +
                      L") überschritten");
    }
    Url next = ResolveRedirect(current, response.location);
    if (current.scheme == L"https" && next.scheme != L"https") {
      throw Exception(DowngradeRefusedMessage(next.ToString()));
    }
    current = std::move(next);
  }
}
}  // namespace

HttpResponse FetchFollowingRedirects(HttpSession& session, const Url& url, std::size_t maxBytes,
                                     unsigned totalMilliseconds) {
  return Follow(session, url, maxBytes, BodyReading::UnlessRedirect, totalMilliseconds).first;
}

Url FindFinalAddress(HttpSession& session, const Url& url, unsigned totalMilliseconds) {
  return Follow(session, url, 0, BodyReading::Never, totalMilliseconds).second;
}
