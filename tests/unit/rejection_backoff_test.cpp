// A build that failed after it was tried waits a day, then doubling up to a week, before it is
// tried again; another build of the same version is tried at once.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Models/DLLSynchronisierer.h"
#include "Services/UpdateCycle.h"
#include "core/RejectionBackoff.h"
#include "core/VersionCompare.h"
#include "platform/OutcomeSink.h"
#include "support/FakeDll.h"
#include "support/FakeEnginePlatform.h"

namespace {
constexpr std::int64_t kDay = 24 * 3600;
constexpr std::int64_t kFailedAt = 1749124805;  // 2025-06-05 12:00:05 UTC
const std::string kHash(64, 'a');

ServiceRecords Rejected(int failures, std::int64_t at) {
  ServiceRecords records{L"2.1.0.1", kHash};
  records.rejectedFailures = failures;
  records.rejectedAtUnix = at;
  return records;
}

struct DecisionRow {
  const char* name;
  ServiceRecords records;
  const wchar_t* online;
  std::int64_t now;
  RejectionDecision expected;
};

using V = RejectionVerdict;
const DecisionRow kDecisions[] = {
    {"nothing rejected", {}, L"2.1.0.1", kFailedAt, {}},
    {"another version", Rejected(1, kFailedAt), L"2.1.0.2", kFailedAt + kDay, {}},
    {"the same version, spelt otherwise",
     Rejected(1, kFailedAt),
     L"2.1.0.01",
     kFailedAt,
     {V::Wait, kFailedAt + kDay, 2, false}},
    {"first failure, a second before a day",
     Rejected(1, kFailedAt),
     L"2.1.0.1",
     kFailedAt + kDay - 1,
     {V::Wait, kFailedAt + kDay, 2, false}},
    {"first failure, a day after",
     Rejected(1, kFailedAt),
     L"2.1.0.1",
     kFailedAt + kDay,
     {V::Retry, kFailedAt + kDay, 2, false}},
    {"second failure: two days",
     Rejected(2, kFailedAt),
     L"2.1.0.1",
     kFailedAt + kDay,
     {V::Wait, kFailedAt + 2 * kDay, 3, false}},
    {"third failure: four days",
     Rejected(3, kFailedAt),
     L"2.1.0.1",
     kFailedAt + 4 * kDay,
     {V::Retry, kFailedAt + 4 * kDay, 4, false}},
    {"fourth failure: a week, not eight days",
     Rejected(4, kFailedAt),
     L"2.1.0.1",
     kFailedAt + 7 * kDay,
     {V::Retry, kFailedAt + 7 * kDay, 5, false}},
    {"the thousandth: still a week",
     Rejected(1000, kFailedAt),
     L"2.1.0.1",
     kFailedAt + 6 * kDay,
     {V::Wait, kFailedAt + 7 * kDay, 1001, false}},
    {"an older service's record: its wait begins now",
     Rejected(0, 0),
     L"2.1.0.1",
     kFailedAt,
     {V::Wait, kFailedAt + kDay, 2, true}},
    {"a time ahead of the clock: counted from now",
     Rejected(1, kFailedAt + 30 * kDay),
     L"2.1.0.1",
     kFailedAt,
     {V::Wait, kFailedAt + kDay, 2, true}},
};

TEST(RejectionBackoff, TheSameBuildWaitsADayThenDoublingUpToAWeek) {
  for (const DecisionRow& row : kDecisions) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DecideRejection(row.records, row.online, row.now, IsSameVersion), row.expected);
  }
  EXPECT_EQ(RejectionWaitSeconds(0), kDay);
  EXPECT_EQ(RejectionWaitSeconds(3), 4 * kDay);
  EXPECT_EQ(RejectionWaitSeconds(1 << 30), 7 * kDay);
}

TEST(RejectionBackoff, AnotherHashIsANewBuildAndFailuresCountPerBuild) {
  const ServiceRecords once = WithFailedBuild({}, L"2.1.0.1", kHash, RejectionCause::Recycle, 10);
  EXPECT_EQ(once.rejectedFailures, 1);
  EXPECT_EQ(once.rejectedCause, RejectionCause::Recycle);
  EXPECT_TRUE(IsRejectedBuild(once, kHash));
  EXPECT_FALSE(IsRejectedBuild(once, std::string(64, 'b')));
  const ServiceRecords twice =
      WithFailedBuild(once, L"2.1.0.1", kHash, RejectionCause::StatusPage, 20);
  EXPECT_EQ(twice.rejectedFailures, 2);
  EXPECT_EQ(twice.rejectedAtUnix, 20);
  const ServiceRecords rebuilt =
      WithFailedBuild(twice, L"2.1.0.1", std::string(64, 'b'), RejectionCause::LoadProbe, 30);
  EXPECT_EQ(rebuilt.rejectedFailures, 1);
  EXPECT_EQ(
      WithFailedBuild(twice, L"2.1.0.2", kHash, RejectionCause::LoadProbe, 30).rejectedFailures, 1);
  // Written and read back whole; an older service's file (no history) still reads.
  EXPECT_EQ(ParseServiceRecords(FormatServiceRecords(twice)).records, twice);
  const ParsedServiceRecords old = ParseServiceRecords(
      "KORVAL-AUFZEICHNUNGEN 1\nZURUECKGENOMMENE_VERSION=2.1.0.1\nZURUECKGENOMMENE_SHA256=" +
      kHash + "\n");
  EXPECT_EQ(old.records, (ServiceRecords{L"2.1.0.1", kHash}));
  EXPECT_TRUE(old.ignored.empty());
  // Half a history is no history: the rejection reads as an older service's.
  const ParsedServiceRecords half = ParseServiceRecords(FormatServiceRecords(twice).substr(
      0, FormatServiceRecords(twice).rfind("ZURUECKGENOMMEN_AM")));
  EXPECT_EQ(half.records, (ServiceRecords{L"2.1.0.1", kHash}));
  EXPECT_EQ(half.ignored.size(), 1u);
}

class RecordingOutcomes : public OutcomeSink {
 public:
  void Report(Outcome outcome, const std::vector<std::wstring>& details) noexcept override {
    if (outcome == Outcome::RejectedBuildRetried) retries.push_back(details);
  }
  void CycleEnded(const CycleSummary&) noexcept override {}
  std::vector<std::vector<std::wstring>> retries;
};

// Whole cycles on a status page that fails after the update, the clock moved on between them.
class RejectedBuildCycles : public ::testing::Test, public FakeEnginePlatform {
 public:
  RejectedBuildCycles() {
    ArrangeTwoTargetsAndANewerDll();
    profiles.Set(L"ABSICHERUNG", L"STATUSSEITE", L"http://127.0.0.1/status");
    profiles.Set(L"ABSICHERUNG", L"STATUSWARTEZEIT", L"0");
  }

  // One cycle at day `day` (and `hour`) after the first failure; answers whether it swapped.
  bool CycleAt(int day, int hour, bool statusPageFails) {
    clock.Set(MakeLocalTime(2025, 6, 5 + day, 12 + hour, 0, 5));
    wchar_t digits[32];
    std::swprintf(digits, 32, L"202506%02d%02d0005000", 5 + day, 12 + hour);
    versions.Set(DownloadTemp(1, digits), 2, 1, 0, 1);
    http.script.Respond(200, "2.1.0.1");
    statusHttp.script.answers.clear();  // a cycle that held its build back asked nothing
    statusHttp.script.Respond(200, "ok").Respond(statusPageFails ? 500 : 200, "x");
    if (statusPageFails) statusHttp.script.Respond(200, "ok");
    EnginePlatform platform = Platform();
    platform.outcomes = &outcomes;
    engine = std::make_unique<TDLLSynchronisierer>(platform);
    launcher.launches.clear();
    RunUpdateCycle(*engine);
    return !launcher.launches.empty();
  }

  bool Logged(const std::wstring& text) {
    for (const std::wstring& line : engine->ProtokollListe()) {
      if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
  }

  RecordingOutcomes outcomes;
  std::unique_ptr<TDLLSynchronisierer> engine;
};

TEST_F(RejectedBuildCycles, TriedAgainAfterItsWaitAndNotBeforeAndANewBuildAtOnce) {
  EXPECT_TRUE(CycleAt(0, 0, true));
  EXPECT_FALSE(CycleAt(0, 23, true)) << "the same build within its day";
  EXPECT_TRUE(Logged(L"derselbe Build wird nicht vor 6/6/2025 12:00:05 PM erneut installiert."));
  EXPECT_TRUE(outcomes.retries.empty());
  EXPECT_TRUE(CycleAt(1, 0, true)) << "a day later";
  EXPECT_TRUE(Logged(L"sie wird nach der Wartezeit erneut versucht (Versuch 2)."));
  EXPECT_EQ(outcomes.retries,
            (std::vector<std::vector<std::wstring>>{{L"2.1.0.1", L"2", L"Statusseite"}}));
  EXPECT_TRUE(Logged(L"Derselbe Build der Version 2.1.0.1 wird frühestens ab 6/8/2025"));
  EXPECT_FALSE(CycleAt(2, 23, true)) << "two days after its second failure, not before";
  EXPECT_TRUE(CycleAt(3, 0, true));
  EXPECT_EQ(outcomes.retries.size(), 2u);
  // Rebuilt under the same version: tried at once, and kept, it is rejected no more.
  downloader.bodies[L"https://update.test/KorvalAppServer.dll"] = FakeDllBytes("rebuilt");
  EXPECT_TRUE(CycleAt(3, 1, false));
  EXPECT_TRUE(Logged(L"Der Download ist ein neuer Build der Version 2.1.0.1"));
  EXPECT_EQ(files.files[L"C:\\inetpub\\app1\\KorvalAppServer.dll"], FakeDllBytes("rebuilt"));
  EXPECT_FALSE(files.files.count(L"C:\\korval\\Download\\Aufzeichnungen.txt"));
  EXPECT_EQ(outcomes.retries.size(), 2u);
}
}  // namespace
