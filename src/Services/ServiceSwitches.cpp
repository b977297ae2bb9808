#include "Services/ServiceSwitches.h"

#include <cwctype>

ProgramMode ServiceSwitches::Mode() const {
  if (unknown) return ProgramMode::Usage;
  if (install) return ProgramMode::Install;
  if (uninstall) return ProgramMode::Uninstall;
  if (status) return ProgramMode::Status;
  if (check) return ProgramMode::Check;
  if (update) return ProgramMode::Update;
  return ProgramMode::RunService;
}

bool IsSwitch(const std::wstring& argument, const std::wstring& word) {
  if (argument.size() != word.size() + 1) return false;
  if (argument[0] != L'-' && argument[0] != L'/') return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::towupper(argument[i + 1]) != std::towupper(word[i])) return false;
  }
  return true;
}

ServiceSwitches ParseServiceSwitches(const std::vector<std::wstring>& arguments) {
  ServiceSwitches switches;
  struct Known {
    const wchar_t* word;
    bool ServiceSwitches::*flag;
  };
  static const Known known[] = {
      {L"INSTALL", &ServiceSwitches::install}, {L"UNINSTALL", &ServiceSwitches::uninstall},
      {L"SILENT", &ServiceSwitches::silent},   {L"CHECK", &ServiceSwitches::check},
      {L"UPDATE", &ServiceSwitches::update},   {L"STATUS", &ServiceSwitches::status},
  };
  for (const std::wstring& argument : arguments) {
    if (argument.empty() || (argument[0] != L'-' && argument[0] != L'/')) continue;
    bool matched = false;
    for (const Known& k : known) {
      if (IsSwitch(argument, k.word)) {
        switches.*k.flag = true;
        matched = true;
      }
    }
    if (!matched) switches.unknown = true;
  }
  return switches;
}

std::vector<std::wstring> UsageText() {
  return {
      L"Unbekannter Schalter. Aufruf: KORVAL_Update_Service.exe [Schalter]",
      L"  /INSTALL [/SILENT]    registriert den Dienst (/SILENT: keine Erfolgsmeldung)",
      L"  /UNINSTALL [/SILENT]  hält den Dienst an (bis zu 30 s) und entfernt ihn",
      L"  /CHECK                prüft auf eine neue Version (0 aktuell, 2 fällig, 1 Fehler)",
      L"  /UPDATE               führt einen Aktualisierungszyklus aus (0 gelungen, 1 Fehler)",
      L"  /STATUS               zeigt den Status (0 gelungen, 1 fehlgeschlagen, 2 fällig)",
      L"Ohne Schalter läuft das Programm als Dienst.",
  };
}
