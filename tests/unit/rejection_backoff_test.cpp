// A build that failed after it was tried waits a day, then doubling up to a week, before it is
// tried again; another build of the same version is tried at once.
#include <gtest/gtest.h>

#include "Models/DLLSynchronisierer.h"
#include "Services/UpdateCycle.h"
#include "core/RejectionBackoff.h"
#include "core/VersionCompare.h"
#include "platform/OutcomeSink.h"
#include "support/FakeDll.h"
#include "support/FakeEnginePlatform.h"

namespace {
constexpr std::int64_t kDay = 24 * 3600, kAt = 1749124805;  // 2025-06-05 12:00:05 UTC
const std::string kHash(64, 'a');

TEST(RejectionBackoff, TheSameBuildWaitsADayThenDoublingUpToAWeekAnotherIsNew) {
  using V = RejectionVerdict;
  const struct {
    int failures;
    std::int64_t at, now;
    const wchar_t* online;
    RejectionDecision expected;
  } rows[] = {
      {1, kAt, kAt + kDay, L"2.1.0.2", {}},  // another version
      {1, kAt, kAt + kDay - 1, L"2.1.0.01", {V::Wait, kAt + kDay, 2, false}},
      {1, kAt, kAt + kDay, L"2.1.0.1", {V::Retry, kAt + kDay, 2, false}},
      {2, kAt, kAt + kDay, L"2.1.0.1", {V::Wait, kAt + 2 * kDay, 3, false}},
      {3, kAt, kAt + 4 * kDay, L"2.1.0.1", {V::Retry, kAt + 4 * kDay, 4, false}},
      {4, kAt, kAt + 7 * kDay, L"2.1.0.1", {V::Retry, kAt + 7 * kDay, 5, false}},  // not 8 days
      {1000, kAt, kAt + 6 * kDay, L"2.1.0.1", {V::Wait, kAt + 7 * kDay, 1001, false}},
      {0, 0, kAt, L"2.1.0.1", {V::Wait, kAt + kDay, 2, true}},  // an older service's record
      {1, kAt + 30 * kDay, kAt, L"2.1.0.1", {V::Wait, kAt + kDay, 2, true}},  // ahead of the clock
  };
  for (const auto& row : rows) {
    ServiceRecords records{L"2.1.0.1", kHash};
    records.rejectedFailures = row.failures;
    records.rejectedAtUnix = row.at;
    EXPECT_EQ(DecideRejection(records, row.online, row.now, IsSameVersion), row.expected)
        << row.failures << " " << row.now - row.at;
  }
  EXPECT_EQ(DecideRejection({}, L"2.1.0.1", kAt, IsSameVersion), RejectionDecision{});
  const ServiceRecords twice =
      WithFailedBuild(WithFailedBuild({}, L"2.1.0.1", kHash, RejectionCause::Recycle, 10),
                      L"2.1.0.1", kHash, RejectionCause::StatusPage, 20);
  EXPECT_EQ(twice.rejectedFailures, 2);
  EXPECT_EQ(twice.rejectedAtUnix, 20);
  const std::string rebuilt(64, 'b');
  EXPECT_EQ(
      WithFailedBuild(twice, L"2.1.0.1", rebuilt, RejectionCause::LoadProbe, 30).rejectedFailures,
      1);
}

// Whole cycles on a status page that fails after the update, the clock moved on between them;
// every retry is announced.
class RejectedBuildCycles : public ::testing::Test, public FakeEnginePlatform, public OutcomeSink {
 public:
  RejectedBuildCycles() {
    ArrangeTwoTargetsAndANewerDll();
    profiles.Set(L"ABSICHERUNG", L"STATUSSEITE", L"http://127.0.0.1/status");
    profiles.Set(L"ABSICHERUNG", L"STATUSWARTEZEIT", L"0");
  }
  void Report(Outcome outcome, const std::vector<std::wstring>& details) noexcept override {
    if (outcome == Outcome::RejectedBuildRetried) retries.push_back(details);
  }
  void CycleEnded(const CycleSummary&) noexcept override {}

  // A cycle at June 5 + day, 12 + hour o'clock: whether it touched the site, and its run log.
  bool CycleAt(int day, int hour, bool statusPageFails) {
    clock.Set(MakeLocalTime(2025, 6, 5 + day, 12 + hour, 0, 5));
    versions.Set(kPartialDownload, 2, 1, 0, 1);
    http.script.Respond(200, "2.1.0.1");
    statusHttp.script.answers.clear();  // a cycle that held its build back asked nothing
    statusHttp.script.Respond(200, "").Respond(statusPageFails ? 500 : 200, "").Respond(200, "");
    EnginePlatform platform = Platform();
    platform.outcomes = this;
    TDLLSynchronisierer engine(platform);
    launcher.launches.clear();
    RunUpdateCycle(engine);
    log.clear();
    for (const std::wstring& line : engine.ProtokollListe()) log += line + L"\n";
    return !launcher.launches.empty();
  }

  std::vector<std::vector<std::wstring>> retries;
  std::wstring log;
};

TEST_F(RejectedBuildCycles, TriedAgainAfterItsWaitAndNotBeforeAndANewBuildAtOnce) {
  EXPECT_TRUE(CycleAt(0, 0, true));
  EXPECT_FALSE(CycleAt(0, 23, true)) << "the same build within its day";
  EXPECT_TRUE(CycleAt(1, 0, true)) << "a day later";
  EXPECT_NE(log.find(L"sie wird nach der Wartezeit erneut versucht (Versuch 2)."), log.npos);
  EXPECT_EQ(retries, (std::vector<std::vector<std::wstring>>{{L"2.1.0.1", L"2", L"Statusseite"}}));
  EXPECT_FALSE(CycleAt(2, 23, true)) << "two days after its second failure, not before";
  EXPECT_TRUE(CycleAt(3, 0, true));
  EXPECT_EQ(retries.size(), 2u);
  // Rebuilt under the same version: tried at once, and kept, it is rejected no more.
  downloader.bodies[L"https://update.test/KorvalAppServer.dll"] = FakeDllBytes("rebuilt");
  EXPECT_TRUE(CycleAt(3, 1, false));
  EXPECT_NE(log.find(L"Der Download ist ein neuer Build der Version 2.1.0.1"), log.npos);
  EXPECT_FALSE(files.files.count(L"C:\\korval\\Download\\Aufzeichnungen.txt"));
}
}  // namespace
