#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "lifter_test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using namespace lifter_test;

TEST(LifterCommand, RefusalsAndRepeatsMakeNoMotorCall) {
  struct Case {
    int initial;  // declared with setInitialStatus
    int command;
    int result;
    std::string line;
  };
  const std::vector<Case> cases = {
      {0, 0, 0, "[WARN] Lifter already in stat: 0\r\n"},
      {1, 1, 0, "[WARN] Lifter already in stat: 1\r\n"},
      // The same-state answer comes before the range check.
      {5, 5, 0, "[WARN] Lifter already in stat: 5\r\n"},
      {0, 2, -1, "[WARN] Lifter cmd error: 2\r\n"},
      {0, -1, -1, "[WARN] Lifter cmd error: -1\r\n"},
      {1, 7, -1, "[WARN] Lifter cmd error: 7\r\n"},
  };
  for (const Case& c : cases) {
    const std::string dev = UniqueDevName();
    LogCapture capture;
    {
      UpdownLifter lifter(Description(dev));
      lifter.setInitialStatus(c.initial);
      EXPECT_EQ(lifter.setIoStatus(c.command), c.result) << c.line;
      int status = -2;
      EXPECT_EQ(lifter.getIoStatus(status), c.initial);
      EXPECT_EQ(status, c.initial);
      // Only the start-up's zeroing; no tick ran a move.
      EXPECT_EQ(CountOf(dev, "setZeroPosition"), 1U) << c.line;
      EXPECT_EQ(CountOf(dev, "setPosition"), 0U) << c.line;
    }
    EXPECT_EQ(Occurrences(capture.Text(), c.line), 1U) << c.line;
  }
}

TEST(LifterCommand, BusyRefusesEveryCommand) {
  const std::string dev = UniqueDevName();
  LogCapture capture;
  {
    UpdownLifter lifter(Description(dev));  // 10 Hz: the move lasts minutes
    ASSERT_EQ(lifter.setIoStatus(1), 0);
    int status = 0;
    EXPECT_EQ(lifter.getIoStatus(status), -1);
    EXPECT_EQ(status, -1);
    // Busy beats the same state, the other state and an invalid one alike.
    for (const int command : {1, 0, 7, -1}) {
      EXPECT_EQ(lifter.setIoStatus(command), -1) << command;
    }
    EXPECT_EQ(CountOf(dev, "setZeroPosition"), 2U);
  }
  const std::string log = capture.Text();
  EXPECT_EQ(Occurrences(log, "[WARN] Lifter is busy, cmd rejected...\r\n"), 4U);
  EXPECT_EQ(Occurrences(log, "cmd error"), 0U);
}

TEST(LifterCommand, MoveZeroesTheMotorThenReportsTheReachedState) {
  const std::string dev = UniqueDevName();
  UpdownLifter lifter(Description(dev, "maxpos: 1\n" + FastTicks()));
  for (const int target : {1, 0, 1}) {
    ASSERT_EQ(lifter.setIoStatus(target), 0) << target;
    EXPECT_EQ(WaitForEndOfMove(lifter), target);
    int status = -1;
    EXPECT_EQ(lifter.getIoStatus(status), target);
    EXPECT_EQ(status, target);
  }
  EXPECT_EQ(CountOf(dev, "setZeroPosition"), 4U);
}

TEST(LifterCommand, DeclaredStateDuringAMoveGivesWayToTheReachedOne) {
  const std::string dev = UniqueDevName();
  // 10 Hz and a travel of two steps: the move lasts at least 100 ms.
  UpdownLifter lifter(Description(dev, "maxpos: 0.3\n"));
  ASSERT_EQ(lifter.setIoStatus(1), 0);
  lifter.setInitialStatus(7);
  int status = 0;
  EXPECT_EQ(lifter.getIoStatus(status), -1);
  EXPECT_EQ(WaitForEndOfMove(lifter), 1);
}

}  // namespace
