#include "win32/UrlmonDownloader.h"

#include <windows.h>
// After windows.h, which it needs.
#include <urlmon.h>

#include <cstdio>

#include "core/Exception.h"

namespace {
// urlmon's own codes have no system text: our own words for the ones a download meets.
const wchar_t* DownloadErrorText(HRESULT result) {
  switch (static_cast<unsigned long>(result)) {
    case 0x800C0002:
      return L"Ungültiger URL";
    case 0x800C0003:
      return L"Keine Sitzung";
    case 0x800C0004:
      return L"Keine Verbindung zum Server";
    case 0x800C0005:
      return L"Server oder Ressource nicht gefunden";
    case 0x800C0006:
      return L"Objekt nicht gefunden";
    case 0x800C0007:
      return L"Keine Daten verfügbar";
    case 0x800C0008:
      return L"Der Download ist fehlgeschlagen";
    case 0x800C000B:
      return L"Zeitüberschreitung der Verbindung";
    case 0x800C000E:
      return L"Sicherheitsproblem";
    case 0x800C0019:
      return L"Serverzertifikat ungültig oder nicht vorhanden";
    case 0x800C0011:
      return L"Unbekanntes Protokoll";
    case 0x80070005:
      return L"Zugriff verweigert";
    default:
      return L"Der Download ist fehlgeschlagen";
  }
}

// URLDownloadToFileW needs COM on its thread; the service thread may already have it.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};
}  // namespace

void UrlmonDownloader::Download(const std::wstring& url, const std::wstring& file) {
  ComScope com;
  HRESULT result = URLDownloadToFileW(nullptr, url.c_str(), file.c_str(), 0, nullptr);
  if (SUCCEEDED(result)) return;
  wchar_t code[16];
  std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(result));
  throw Exception(std::wstring(DownloadErrorText(result)) + L" (" + code + L")");
}
