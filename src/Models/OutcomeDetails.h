#pragma once
// The details the engine hands to its outcome sink, in the order platform/OutcomeSink.h gives.

#include <cstdint>
#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"

// Online version; per exchanged target (planIndex >= 0) its path, its old version and the online
// one; last the downtime in ms.
std::vector<std::wstring> InstalliertDetails(const std::wstring& online,
                                             const std::vector<ZielBefund>& befund,
                                             const std::vector<int>& planIndex,
                                             std::uint64_t ausfallMs);

// Reports the site left stopped, with the reason of the last failure the run log holds. (For code
// that has a function of the outcome enum's name in scope.)
void MeldeSiteBleibtAngehalten(OutcomeSink* sink, const std::wstring& site,
                               const std::vector<std::wstring>& protokoll);

// The reason of the last failure the run log holds (its last "Ursache: " line), or "" when none.
std::wstring LetzteUrsache(const std::vector<std::wstring>& protokoll);
