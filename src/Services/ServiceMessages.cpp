#include "Services/ServiceMessages.h"

std::wstring ServiceFailedText(const std::wstring& action, const std::wstring& message) {
  return L"Service fehlgeschlagen bei " + action + L":" + message;
}

std::optional<std::wstring> ControlActionWord(std::uint32_t controlCode) {
  switch (controlCode) {
    case 1:
      return L"stop";
    case 2:
      return L"Pause";
    case 3:
      return L"Weiter";
    case 4:
      return L"interrogate";
    case 5:
      return L"shutdown";
    default:
      return std::nullopt;
  }
}

std::wstring ControlFailedText(std::uint32_t controlCode, const std::wstring& message) {
  if (auto word = ControlActionWord(controlCode)) return ServiceFailedText(*word, message);
  return L"Service fehlgeschlagen in selbst def. Meldung (" +
         std::to_wstring(static_cast<std::int32_t>(controlCode)) + L"): " + message;
}

std::wstring InstallSucceededText() { return L"Service erfolgreich installiert"; }
std::wstring UninstallSucceededText() { return L"Service erfolgreich deinstalliert"; }

std::wstring InstallFailedText(const std::wstring& displayName, const std::wstring& message) {
  return L"Service \"" + displayName + L"\" konnte nicht installiert werden; Fehler: \"" + message +
         L"\"";
}

std::wstring UninstallFailedText(const std::wstring& displayName, const std::wstring& message) {
  return L"Service \"" + displayName + L"\" konnte nicht deinstalliert werden; Fehler: \"" +
         message + L"\"";
}

namespace {

// A code address as a pointer is printed: upper-case hex digits, as many as a pointer holds.
std::wstring PointerText(std::uintptr_t address) {
  static const wchar_t digits[] = L"0123456789ABCDEF";
  std::wstring text(sizeof(std::uintptr_t) * 2, L'0');
  for (std::size_t i = text.size(); i > 0; --i) {
    text[i - 1] = digits[address & 0xF];
    address >>= 4;
  }
  return text;
}

}  // namespace

std::wstring ApplicationErrorText(const std::wstring& className, const std::wstring& moduleName,
                                  std::uintptr_t codeAddress, const std::wstring& message) {
  std::wstring text = L"Exception " + className + L" in Modul " + moduleName + L" bei " +
                      PointerText(codeAddress) + L".\r\n" + message;
  if (message.empty() || message.back() != L'.') text += L'.';
  return text + L"\r\n";
}
