#include "core/HttpFetch.h"

#include "core/Exception.h"

std::wstring BodyTooLargeMessage(std::size_t maxBytes) {
  return L"Fehler beim Lesen der Daten: Die Antwort ist größer als " + std::to_wstring(maxBytes) +
         L" Bytes";
}

bool IsRedirectStatus(int status) {
  return (status >= 300 && status <= 303) || status == 307 || status == 308;
}

HttpResponse FetchFollowingRedirects(HttpSession& session, const Url& url, std::size_t maxBytes) {
  Url current = url;
  for (int followed = 0;; ++followed) {
    HttpResponse response = session.Get(current, maxBytes);
    if (!IsRedirectStatus(response.status) || response.location.empty()) return response;
    if (followed == kMaxRedirects) {
      throw Exception(L"Maximale Anzahl von Umleitungen (" + std::to_wstring(kMaxRedirects) +
                      L") überschritten");
    }
    current = ResolveRedirect(current, response.location);
  }
}
