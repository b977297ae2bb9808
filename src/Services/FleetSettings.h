#pragma once
// The planner's settings as the configuration and the machine's identity give them, and the line
// in which /CHECK shows them.

#include <string>

#include "Services/CheckPlanner.h"

class TDLLKonfiguration;

PlannerSettings PlannerSettingsFor(const TDLLKonfiguration& konfiguration,
                                   const std::wstring& maschinenkennung);

// "Zeitfenster: 0, 12 Uhr; Versatz dieses Rechners: 12:34 (STREUUNG 60 Minuten)."
std::wstring ZeitplanZeile(const TDLLKonfiguration& konfiguration,
                           const std::wstring& maschinenkennung);
