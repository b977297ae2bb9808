#include "Models/SiteFolders.h"

#include <set>

#include "Models/OutcomeDetails.h"
#include "Models/RunLog.h"
#include "core/PathNames.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

SiteFolders::SiteFolders(FileSystem* files, Clock& clock, RunLogLines& log, OutcomeSink* outcomes)
    : files_(files), clock_(clock), log_(log), outcomes_(outcomes) {}

SiteFolders::~SiteFolders() = default;

bool SiteFolders::ProveAll(const std::vector<std::wstring>& targets) {
  Release();
  if (files_ == nullptr) return true;
  std::set<std::wstring> proven;
  for (const std::wstring& target : targets) {
    const std::wstring folder = FolderOf(target);
    if (!proven.insert(folder).second) continue;
    FolderCheck check = files_->HoldTrustedFolder(folder);
    if (check.held) {
      held_.push_back(std::move(check.held));
      continue;
    }
    Release();
    log_.Log(L"Fehler beim Prüfen des Ordners " + folder + L": " + check.whyNot);
    const LocalTime now = clock_.Now();
    const int day = now.year * 10000 + now.month * 100 + now.day;
    auto [last, first] = warnedOn_.try_emplace(folder, day);
    if (first || last->second != day) {
      last->second = day;
      ReportOutcome(outcomes_, Outcome::SiteFolderNotTrusted, {folder, check.whyNot});
    }
    return false;
  }
  return true;
}

void SiteFolders::Release() { held_.clear(); }
