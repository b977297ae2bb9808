#pragma once
// The details the engine hands to its outcome sink, in the order platform/OutcomeSink.h gives.

#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"

// Reports the site left stopped, with the reason of the last failure the run log holds. (For code
// that has a function of the outcome enum's name in scope.)
void MeldeSiteBleibtAngehalten(OutcomeSink* sink, const std::wstring& site,
                               const std::vector<std::wstring>& protokoll);

// The reason of the last failure the run log holds (its last "Ursache: " line), or "" when none.
std::wstring LetzteUrsache(const std::vector<std::wstring>& protokoll);
