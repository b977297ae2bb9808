#include "core/SystemError.h"

std::wstring TrimPlatformText(const std::wstring& text) {
  std::size_t end = text.size();
  while (end > 0) {
    wchar_t c = text[end - 1];
    if (c != L' ' && c != L'\r' && c != L'\n' && c != L'.' && c != L'\t') break;
    --end;
  }
  return text.substr(0, end);
}

std::wstring FormatSystemErrorMessage(std::uint32_t code, const std::wstring& platformText) {
  if (code == 0) return L"Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen";
  return L"Systemfehler.  Code: " + std::to_wstring(code) + L".\r\n" +
         TrimPlatformText(platformText);
}
