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
  if (etag.size() < 2 || etag.size() > 256) return false;
  if (etag.front() != L'"' || etag.back() != L'"') return false;
  for (std::size_t i = 1; i + 1 < etag.size(); ++i) {
    const wchar_t c = etag[i];
    if (c < 0x21 || c > 0x7E || c == L'"') return false;
  }
  return true;
}
