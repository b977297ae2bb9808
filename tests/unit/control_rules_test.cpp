#include <gtest/gtest.h>

#include "Services/ControlRules.h"
#include "support/ServiceRecorders.h"

namespace {

using S = TCurrentStatus;
const S kAll[] = {S::csStopped,         S::csStartPending, S::csStopPending, S::csRunning,
                  S::csContinuePending, S::csPausePending, S::csPaused};

ControlPlan Plan(std::vector<S> reports, bool stop, bool freeze, bool ends) {
  ControlPlan plan;
  plan.reports = std::move(reports);
  plan.callsServiceStop = stop;
  plan.freezes = freeze;
  plan.endsLoop = ends;
  return plan;
}

// Every control code from every status: only interrogate depends on the status.
TEST(ControlRulesTest, EveryCodeFromEveryStatus) {
  for (S current : kAll) {
    SCOPED_TRACE(StatusName(current));
    EXPECT_EQ(PlanControl(1, current), Plan({S::csStopPending}, true, false, true));
    EXPECT_EQ(PlanControl(2, current), Plan({S::csPausePending, S::csPaused}, false, true, false));
    EXPECT_EQ(PlanControl(3, current),
              Plan({S::csContinuePending, S::csRunning}, false, false, false));
    EXPECT_EQ(PlanControl(4, current), Plan({current}, false, false, false));
    EXPECT_EQ(PlanControl(5, current), Plan({S::csStopPending}, false, false, true));
    for (std::uint32_t custom : {0u, 6u, 10u, 127u, 128u, 200u, 255u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(custom);
      EXPECT_EQ(PlanControl(custom, current), Plan({}, false, false, false));
    }
  }
}

}  // namespace
