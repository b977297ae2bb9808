#pragma once
// How the engine's units hand their outcomes to the outcome sink (platform/OutcomeSink.h).

#include <string>
#include <vector>

#include "platform/OutcomeSink.h"

// The engine's one line per outcome: a missing sink (a check that must leave no trace) is fine.
void ReportOutcome(OutcomeSink* sink, Outcome outcome, const std::vector<std::wstring>& details);

// Reports the site left stopped, with the reason of the last failure the run log holds.
void MeldeSiteBleibtAngehalten(OutcomeSink* sink, const std::wstring& site,
                               const std::vector<std::wstring>& protokoll);

// The reason of the last failure the run log holds (its last "Ursache: " line), or "" when none.
std::wstring LetzteUrsache(const std::vector<std::wstring>& protokoll);
