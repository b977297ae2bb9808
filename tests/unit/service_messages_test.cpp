#include <gtest/gtest.h>

#include "Services/ServiceMessages.h"

namespace {

TEST(ServiceMessagesTest, FailureOfEveryControlCode) {
  struct Row {
    std::uint32_t code;
    const wchar_t* text;
  };
  const Row rows[] = {
      {1, L"Service fehlgeschlagen bei stop:kaputt"},
      {2, L"Service fehlgeschlagen bei Pause:kaputt"},
      {3, L"Service fehlgeschlagen bei Weiter:kaputt"},
      {4, L"Service fehlgeschlagen bei interrogate:kaputt"},
      {5, L"Service fehlgeschlagen bei shutdown:kaputt"},
      {0, L"Service fehlgeschlagen in selbst def. Meldung (0): kaputt"},
      {6, L"Service fehlgeschlagen in selbst def. Meldung (6): kaputt"},
      {128, L"Service fehlgeschlagen in selbst def. Meldung (128): kaputt"},
      {255, L"Service fehlgeschlagen in selbst def. Meldung (255): kaputt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(ControlFailedText(row.code, L"kaputt"), row.text);
  }
}

TEST(ServiceMessagesTest, StartAndExecuteFailures) {
  EXPECT_EQ(ServiceFailedText(L"start", L"'abc' ist kein gültiger Integerwert für Typ 'Integer'"),
            L"Service fehlgeschlagen bei start:'abc' ist kein gültiger Integerwert für Typ "
            L"'Integer'");
  EXPECT_EQ(ServiceFailedText(L"execute", L""), L"Service fehlgeschlagen bei execute:");
}

TEST(ServiceMessagesTest, RegistrationTexts) {
  const std::wstring name = L"Dienst zum aktualisieren von KORVAL Inhalten.";
  EXPECT_EQ(InstallSucceededText(), L"Service erfolgreich installiert");
  EXPECT_EQ(UninstallSucceededText(), L"Service erfolgreich deinstalliert");
  EXPECT_EQ(InstallFailedText(name, L"Systemfehler.  Code: 1073.\r\nDer Dienst existiert bereits"),
            L"Service \"Dienst zum aktualisieren von KORVAL Inhalten.\" konnte nicht installiert "
            L"werden; Fehler: \"Systemfehler.  Code: 1073.\r\nDer Dienst existiert bereits\"");
  EXPECT_EQ(UninstallFailedText(name, L"x"),
            L"Service \"Dienst zum aktualisieren von KORVAL Inhalten.\" konnte nicht "
            L"deinstalliert werden; Fehler: \"x\"");
}

TEST(ServiceMessagesTest, ApplicationErrorAddsAFullStopOnlyWhenMissing) {
  const std::uintptr_t address = 0x4015A2;
  const std::wstring digits = sizeof(std::uintptr_t) == 8 ? L"00000000004015A2" : L"004015A2";
  EXPECT_EQ(ApplicationErrorText(L"EOSError", L"KORVAL_Update_Service.exe", address,
                                 L"Systemfehler.  Code: 5.\r\nZugriff verweigert"),
            L"Exception EOSError in Modul KORVAL_Update_Service.exe bei " + digits +
                L".\r\nSystemfehler.  Code: 5.\r\nZugriff verweigert.\r\n");
  EXPECT_EQ(ApplicationErrorText(L"Exception", L"a.exe", 0, L"Schon zu Ende."),
            L"Exception Exception in Modul a.exe bei " +
                std::wstring(sizeof(std::uintptr_t) * 2, L'0') + L".\r\nSchon zu Ende.\r\n");
}

}  // namespace
