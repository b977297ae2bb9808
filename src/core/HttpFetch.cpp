#include "core/HttpFetch.h"

#include "core/Exception.h"

std::wstring BodyTooLargeMessage(std::size_t maxBytes) {
  return L"Fehler beim Lesen der Daten: Die Antwort ist größer als " + std::to_wstring(maxBytes) +
         L" Bytes";
}

bool IsRedirectStatus(int status) {
  return (status >= 300 && status <= 303) || status == 307 || status == 308;
}

std::wstring DowngradeRefusedMessage(const std::wstring& target) {
  return L"Umleitung von https auf eine unverschlüsselte Adresse abgelehnt: \"" + target + L"\"";
}

bool IsStrongEtag(const std::wstring& etag) {
  return etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"';
}
