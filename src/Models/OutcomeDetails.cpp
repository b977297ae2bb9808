#include "Models/OutcomeDetails.h"


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

void ReportOutcome(OutcomeSink* sink, Outcome outcome, const std::vector<std::wstring>& details) {
  if (sink != nullptr) sink->Report(outcome, details);
}
