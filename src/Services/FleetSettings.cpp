#include "Services/FleetSettings.h"

#include "Models/DLLKonfiguration.h"
#include "core/HostOffset.h"

PlannerSettings PlannerSettingsFor(const TDLLKonfiguration& konfiguration,
                                   const std::wstring& maschinenkennung) {
  PlannerSettings settings;
  settings.windows.hours = konfiguration.Zeitfenster();
  settings.windows.offsetSeconds = HostOffsetSeconds(maschinenkennung, konfiguration.Streuung());
  settings.retries = konfiguration.Wiederholungen();
  settings.testMode = konfiguration.TestModus();
  return settings;
}

std::wstring ZeitplanZeile(const TDLLKonfiguration& konfiguration,
                           const std::wstring& maschinenkennung) {
  std::wstring stunden;
  for (int hour : konfiguration.Zeitfenster()) {
    stunden += (stunden.empty() ? L"" : L", ") + std::to_wstring(hour);
  }
  return L"Zeitfenster: " + stunden + L" Uhr; Versatz dieses Rechners: " +
         FormatOffset(HostOffsetSeconds(maschinenkennung, konfiguration.Streuung())) +
         L" (STREUUNG " + std::to_wstring(konfiguration.Streuung()) + L" Minuten).";
}
