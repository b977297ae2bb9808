#include "Models/OutcomeDetails.h"

#include "platform/OutcomeSink.h"

std::vector<std::wstring> InstalliertDetails(const std::wstring& online,
                                             const std::vector<ZielBefund>& befund,
                                             const std::vector<int>& planIndex,
                                             std::uint64_t ausfallMs) {
  std::vector<std::wstring> details = {online};
  for (std::size_t i = 0; i < befund.size() && i < planIndex.size(); ++i) {
    if (planIndex[i] < 0) continue;
    details.insert(details.end(), {befund[i].pfad, befund[i].version, online});
  }
  details.push_back(std::to_wstring(ausfallMs));
  return details;
}

std::wstring LetzteUrsache(const std::vector<std::wstring>& protokoll) {
  static const std::wstring kMarke = L": Ursache: ";
  for (auto line = protokoll.rbegin(); line != protokoll.rend(); ++line) {
    const std::size_t at = line->find(kMarke);
    if (at != std::wstring::npos) return line->substr(at + kMarke.size());
  }
  return L"";
}

void MeldeSiteBleibtAngehalten(OutcomeSink* sink, const std::wstring& site,
                               const std::vector<std::wstring>& protokoll) {
  ReportOutcome(sink, Outcome::SiteLeftStopped, {site, LetzteUrsache(protokoll)});
}
