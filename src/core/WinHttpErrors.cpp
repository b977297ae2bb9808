#include "core/WinHttpErrors.h"

const wchar_t* const kCertificateFailureMessage = L"Serverzertifikat ungültig oder nicht vorhanden";

namespace {

struct ErrorText {
  std::uint32_t code;
  const wchar_t* text;
};

constexpr std::uint32_t kSecureChannelError = 12157;

constexpr std::uint32_t kCertificateCodes[] = {
    12037,  // certificate date invalid
    12038,  // certificate name does not match the host
    12045,  // unknown certificate authority
    12057,  // revocation check failed
    12169,  // invalid certificate
    12170,  // certificate revoked
    12175,  // security check failed (the summary code on Windows)
    12179,  // certificate not valid for this use
};

constexpr ErrorText kTexts[] = {
    {12001, L"Es sind keine weiteren Internet-Handles verfügbar"},
    {12002, L"Zeitüberschreitung bei der Anforderung"},
    {12004, L"Interner Fehler des HTTP-Clients"},
    {12005, L"Der URL ist ungültig"},
    {12006, L"Das URL-Schema wird nicht unterstützt"},
    {12007, L"Der Servername konnte nicht aufgelöst werden"},
    {12009, L"Die Option wird nicht unterstützt"},
    {12017, L"Der Vorgang wurde abgebrochen"},
    {12029, L"Es konnte keine Verbindung mit dem Server hergestellt werden"},
    {12030, L"Die Verbindung mit dem Server wurde unerwartet beendet"},
    {12037, L"Das Serverzertifikat ist abgelaufen oder noch nicht gültig"},
    {12038, L"Der Name im Serverzertifikat passt nicht zum Server"},
    {12044, L"Der Server verlangt ein Clientzertifikat"},
    {12045, L"Das Serverzertifikat stammt von keiner vertrauenswürdigen Stelle"},
    {12057, L"Der Sperrstatus des Serverzertifikats konnte nicht geprüft werden"},
    {12150, L"Der angeforderte Header wurde nicht gefunden"},
    {12152, L"Die Antwort des Servers ist ungültig"},
    {12155, L"Der Header ist bereits vorhanden"},
    {12156, L"Die Umleitung ist fehlgeschlagen"},
    {12157, L"Fehler im sicheren Kanal"},
    {12166, L"Fehler im Skript zur automatischen Proxykonfiguration"},
    {12167, L"Das Skript zur automatischen Proxykonfiguration konnte nicht geladen werden"},
    {12169, L"Das Serverzertifikat ist ungültig"},
    {12170, L"Das Serverzertifikat wurde gesperrt"},
    {12175, L"Die Sicherheitsprüfung ist fehlgeschlagen"},
    {12178, L"Kein Proxyserver für die automatische Konfiguration gefunden"},
    {12179, L"Das Serverzertifikat ist für diesen Zweck nicht gültig"},
    {12180, L"Die automatische Proxyerkennung ist fehlgeschlagen"},
    {12181, L"Die Antwortheader sind zu groß"},
    {12182, L"Die Antwort ist zu groß"},
    {10053, L"Die Verbindung wurde abgebrochen"},
    {10054, L"Die Verbindung wurde vom Server zurückgesetzt"},
    {10060, L"Zeitüberschreitung bei der Verbindung"},
    {10061, L"Der Server hat die Verbindung abgelehnt"},
    {10065, L"Der Server ist nicht erreichbar"},
};

const wchar_t* PrefixOf(TransportStage stage) {
  switch (stage) {
    case TransportStage::Send:
      return L"Fehler beim Senden der Daten: ";
    case TransportStage::Receive:
      return L"Fehler beim Empfangen der Daten: ";
    case TransportStage::Read:
      break;
  }
  return L"Fehler beim Lesen der Daten: ";
}

}  // namespace

std::wstring TransportErrorText(std::uint32_t code) {
  for (const ErrorText& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return L"";
}

std::wstring TransportFailureMessage(TransportStage stage, std::uint32_t code,
                                     const std::wstring& fallbackText) {
  std::wstring text = TransportErrorText(code);
  if (text.empty()) text = fallbackText;
  return PrefixOf(stage) + (L"(" + std::to_wstring(static_cast<std::int32_t>(code)) + L") ") + text;
}

bool IsCertificateFailure(std::uint32_t code, bool runningUnderWine) {
  for (std::uint32_t certificateCode : kCertificateCodes) {
    if (code == certificateCode) return true;
  }
  return runningUnderWine && code == kSecureChannelError;
}
