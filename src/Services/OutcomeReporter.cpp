#include "Services/OutcomeReporter.h"

#include "core/VersionCompare.h"

namespace {

constexpr std::size_t kMaxStatusBytes = 256 * 1024;

std::wstring Pad(int value, int width) {
  std::wstring text = std::to_wstring(value);
  return std::wstring(text.size() < static_cast<std::size_t>(width) ? width - text.size() : 0,
                      L'0') +
         text;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace

std::wstring StatusFilePath(const std::wstring& runLogPath) {
  return FolderOf(runLogPath) + L"Status.json";
}

std::wstring IsoLocalTime(const LocalTime& t) {
  return Pad(t.year, 4) + L"-" + Pad(t.month, 2) + L"-" + Pad(t.day, 2) + L"T" + Pad(t.hour, 2) +
         L":" + Pad(t.minute, 2) + L":" + Pad(t.second, 2);
}

std::wstring ProgramVersion() {
  const std::string version = KORVAL_PRODUCT_VERSION;
  return std::wstring(version.begin(), version.end());
}

void OutcomeReporter::Report(Outcome outcome, const std::vector<std::wstring>& details) noexcept {
  try {
    if (outcome == Outcome::UpdateInstalled) installiertUm_ = Jetzt();
    if (throttle_.Admit(outcome, clock_.TickMilliseconds())) {
      events_.Write(MakeOutcomeEvent(outcome, details));
    }
  } catch (...) {
  }
}

void OutcomeReporter::CycleEnded(const CycleSummary& summary) noexcept {
  try {
    const std::wstring folder = FolderOf(summary.runLogPath);
    if (summary.atStart && !folder.empty() && !files_.FolderExists(folder)) {
      events_.Write(RunLogFolderMissingEvent(folder));
    }
    StatusBericht bericht = Ausgangsstand(StatusFilePath(summary.runLogPath));
    bericht.programmVersion = ProgramVersion();
    if (!summary.atStart) {
      bericht.letztePruefung = Jetzt();
      if (IsResourceVersion(summary.onlineVersion)) bericht.onlineVersion = summary.onlineVersion;
      if (installiertUm_) bericht.letzteAktualisierung = *installiertUm_;
      if (summary.failed) {
        bericht.ergebnis = kErgebnisFehlgeschlagen;
        ++bericht.fehlgeschlageneZyklenInFolge;
      } else {
        bericht.ergebnis = installiertUm_ ? kErgebnisAktualisiert : kErgebnisAktuell;
        bericht.fehlgeschlageneZyklenInFolge = 0;
      }
    }
    installiertUm_.reset();
    bericht.ringVerzoegerung = summary.ringDelayHours;
    bericht.zurueckgenommen = summary.rolledBack;
    // Learned anew by every cycle; a start keeps what the last cycle knew.
    if (!summary.atStart) bericht.release = summary.release;
    if (summary.patchSaved) {
      bericht.downloadBekannt = true;
      bericht.patchVerwendet = *summary.patchSaved > 0;
      bericht.patchGespart = static_cast<std::int64_t>(*summary.patchSaved);
    }
    bericht.ziele.clear();
    for (const std::wstring& ziel : summary.targets) {
      std::optional<ProductVersion> version;
      try {
        version = versions_.ReadProductVersion(ziel);
      } catch (...) {
      }
      bericht.ziele.push_back(
          {ziel, version ? FormatProductVersion(version->ms, version->ls) : L""});
    }
    bericht_ = bericht;
    Schreibe(bericht, summary);
  } catch (...) {
  }
}

StatusZeit OutcomeReporter::Jetzt() { return {IsoLocalTime(clock_.Now()), unixNow_()}; }

// The facts carried over a restart come from the file the last run wrote; a file that does not
// parse, or a name that is a link, starts the status afresh.
StatusBericht OutcomeReporter::Ausgangsstand(const std::wstring& statusPath) {
  if (bericht_) return *bericht_;
  try {
    if (std::optional<std::string> text = files_.ReadPlain(statusPath, kMaxStatusBytes)) {
      if (std::optional<StatusBericht> gelesen = ParseStatusJson(*text)) return *gelesen;
    }
  } catch (...) {
  }
  return StatusBericht{};
}

// The metrics are written even when the status file cannot be, and the other way round.
void OutcomeReporter::Schreibe(const StatusBericht& bericht, const CycleSummary& summary) {
  try {
    // Beside a run log whose folder is not the service's, nothing is written.
    if (summary.runLogFolderTrusted) {
      files_.WriteAtomically(StatusFilePath(summary.runLogPath), FormatStatusJson(bericht));
    }
  } catch (...) {
  }
  if (!summary.metricsPath.empty()) {
    try {
      files_.WriteAtomically(summary.metricsPath, FormatStatusMetrics(bericht));
    } catch (...) {
    }
  }
}
