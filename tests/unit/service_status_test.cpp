#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "Services/ServiceStatus.h"
#include "support/ServiceRecorders.h"

namespace {

using S = TCurrentStatus;
const S kAll[] = {S::csStopped,         S::csStartPending, S::csStopPending, S::csRunning,
                  S::csContinuePending, S::csPausePending, S::csPaused};

struct StateRow {
  S status;
  std::uint32_t state;
  std::uint32_t controls;
};

TEST(ServiceStatusTest, EveryStatusIsReportedWithItsStateAndAcceptedControls) {
  const StateRow rows[] = {{S::csStopped, 1, 7},         {S::csStartPending, 2, 0},
                           {S::csStopPending, 3, 7},     {S::csRunning, 4, 7},
                           {S::csContinuePending, 5, 7}, {S::csPausePending, 6, 7},
                           {S::csPaused, 7, 7}};
  for (const StateRow& row : rows) {
    SCOPED_TRACE(row.state);
    ServiceStatusReport report = MakeStatusReport(row.status, std::nullopt);
    EXPECT_EQ(report.serviceType, 0x10u);
    EXPECT_EQ(report.currentState, row.state);
    EXPECT_EQ(report.controlsAccepted, row.controls);
    EXPECT_EQ(report.win32ExitCode, 0u);
    EXPECT_EQ(report.serviceSpecificExitCode, 0u);
    EXPECT_EQ(report.waitHint, 5000u);
  }
}

TEST(ServiceStatusTest, CheckpointIsOneOnlyForAPendingStatusReportedTwiceInARow) {
  const std::vector<std::uint32_t> pendingStates = {2, 3, 5, 6};
  for (S status : kAll) {
    const bool pending = std::find(pendingStates.begin(), pendingStates.end(),
                                   static_cast<std::uint32_t>(status)) != pendingStates.end();
    EXPECT_EQ(MakeStatusReport(status, std::nullopt).checkPoint, 0u);
    for (S previous : kAll) {
      SCOPED_TRACE(StatusName(status) + " after " + StatusName(previous));
      const std::uint32_t expected = pending && previous == status ? 1 : 0;
      EXPECT_EQ(MakeStatusReport(status, previous).checkPoint, expected);
    }
  }
}

TEST(ServiceStatusTest, KeeperComparesWithTheReportBeforeAndKeepsTheCurrentStatus) {
  RecordingStatusSink sink;
  ServiceStatusKeeper keeper(sink);
  EXPECT_EQ(keeper.Current(), S::csStopped);
  keeper.Report(S::csStartPending);
  keeper.Report(S::csStartPending);
  keeper.Report(S::csRunning);
  keeper.Report(S::csRunning);
  keeper.Report(S::csStopPending);
  keeper.Report(S::csStopped);
  EXPECT_EQ(keeper.Current(), S::csStopped);

  std::vector<std::pair<std::uint32_t, std::uint32_t>> stateAndCheckpoint;
  for (const ServiceStatusReport& r : sink.Reports())
    stateAndCheckpoint.emplace_back(r.currentState, r.checkPoint);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {{2, 0}, {2, 1}, {4, 0},
                                                                         {4, 0}, {3, 0}, {1, 0}};
  EXPECT_EQ(stateAndCheckpoint, expected);
}

}  // namespace
