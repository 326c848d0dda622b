#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "lifter_test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using namespace lifter_test;

TEST(LifterMotion, DefaultMoveRampsInSinglePrecisionAndEndsPastTheTravel) {
  // The default step with back-to-back ticks: the same ramp as at 10 Hz.
  ASSERT_EQ(ExpectedRamp(kDefaultStep, 450.0F).size(), 2864U);
  struct Case {
    int from;
    int to;
    float sign;  // state 0 lies in the motor's positive direction
  };
  for (const Case& c : {Case{0, 1, -1.0F}, Case{1, 0, 1.0F}}) {
    const std::string dev = UniqueDevName();
    const std::vector<float> ramp = ExpectedRamp(c.sign * kDefaultStep, 450.0F);
    LogCapture capture;
    {
      UpdownLifter lifter(Description(dev, FastTicks()));
      lifter.setInitialStatus(c.from);
      ASSERT_EQ(lifter.setIoStatus(c.to), 0);
      EXPECT_EQ(WaitForEndOfMove(lifter), c.to);

      const std::vector<double> sent = SetPositions(dev);
      ASSERT_EQ(sent.size(), 2864U);
      EXPECT_EQ(static_cast<float>(sent[0]), c.sign * 0.15707964F);
      EXPECT_EQ(static_cast<float>(sent[1]), c.sign * 0.31415927F);
      EXPECT_NEAR(sent.back(), static_cast<double>(c.sign) * 449.86, 0.01);
      for (std::size_t i = 0; i < ramp.size(); ++i) {
        ASSERT_EQ(sent[i], static_cast<double>(ramp[i])) << "command " << i;
      }
      // 2864 ticks read and commanded; the 2865th only ended the move.
      EXPECT_EQ(CountOf(dev, "getTorque"), 2864U);
    }
    const std::string log = capture.Text();
    EXPECT_EQ(Occurrences(log, "[INFO] Get to target pos.\r\n"), 1U);
    EXPECT_EQ(Occurrences(log, "[INFO] set pos "), 2864U);
    // Nothing between the last command of the ramp and the destructor's
    // getPosition, setPosition, setEnable, getEnableState and the release.
    const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(dev);
    ASSERT_GE(journal.size(), 6U);
    const vorn_motor_sim::Call& last_tick = journal[journal.size() - 6];
    EXPECT_EQ(last_tick.op, "setPosition");
    EXPECT_EQ(last_tick.args.at(0), static_cast<double>(ramp.back()));
    EXPECT_EQ(journal[journal.size() - 5].op, "getPosition");
  }
}

TEST(LifterMotion, TorqueAtOrAboveTheLimitHoldsThatTick) {
  struct Case {
    double torque;  // the second tick's reading
    bool holds;
    std::string hold_line;
    std::string set_line;
  };
  const std::vector<Case> cases = {
      {3.5, true, "Get max torque: 3.5, stop.\r\n", "set pos -0.31, current pos 7.250, current torque: 3.500\r\n"},
      {3.6, true, "Get max torque: 3.6, stop.\r\n", "set pos -0.31, current pos 7.250, current torque: 3.600\r\n"},
      {3.4999, false, "", "set pos -0.31, current pos 7.250, current torque: 3.500\r\n"},
      {-10.0, false, "", "set pos -0.31, current pos 7.250, current torque: -10.000\r\n"},
  };
  const std::vector<float> ramp = ExpectedRamp(-kDefaultStep, 1.0F);
  for (const Case& c : cases) {
    const std::string dev = UniqueDevName();
    vorn_motor_sim::MotorScript script;
    script.torques = {0.0, c.torque};
    script.positions = {0.0, 7.25};
    vorn_motor_sim::Configure(dev, script);
    LogCapture capture;
    {
      UpdownLifter lifter(Description(dev, "maxpos: 1\n" + FastTicks()));
      ASSERT_EQ(lifter.setIoStatus(1), 0);
      // The hold does not end the move: the ramp still covers the travel.
      EXPECT_EQ(WaitForEndOfMove(lifter), 1) << c.torque;
      const UpdownLifter::MoveOutcome outcome = lifter.lastMove();
      EXPECT_TRUE(outcome.reached) << c.torque;
      EXPECT_FALSE(outcome.abandoned) << c.torque;
      EXPECT_EQ(outcome.heldTicks, c.holds ? 1U : 0U) << c.torque;
    }
    const std::vector<double> sent = SetPositions(dev);
    ASSERT_EQ(sent.size(), ramp.size() + 1) << c.torque;  // and the destructor's hold
    EXPECT_EQ(sent[0], static_cast<double>(ramp[0]));
    EXPECT_EQ(sent[1], c.holds ? 7.25 : static_cast<double>(ramp[1])) << c.torque;
    for (std::size_t i = 2; i < ramp.size(); ++i) {
      EXPECT_EQ(sent[i], static_cast<double>(ramp[i])) << c.torque << " command " << i;
    }
    const std::string log = capture.Text();
    EXPECT_EQ(Occurrences(log, "Get max torque"), c.holds ? 1U : 0U) << c.torque;
    const std::size_t set_at = log.find("[INFO] " + c.set_line);
    ASSERT_NE(set_at, std::string::npos) << c.torque;
    if (c.holds) {
      const std::size_t hold_at = log.find("[INFO] " + c.hold_line);
      ASSERT_NE(hold_at, std::string::npos) << c.torque;
      EXPECT_LT(hold_at, set_at);
    }
  }
}

}  // namespace
