#include <chrono>
#include <limits>
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

TEST(LifterMotion, TicksKeepAPeriodWithAFractionOfAMillisecond) {
  // At 600 Hz a tick comes every 1.667 ms: an interval in whole milliseconds
  // (1 ms) ran the ramp 1.67 times faster than its speed.
  const std::string dev = UniqueDevName();
  const std::vector<float> ramp = ExpectedRamp(-(6.0F / 600.0F), 3.0F);
  UpdownLifter lifter(Description(dev, "maxpos: 3\nfreq: 600\nspeed: 6\n"));
  const auto commanded = std::chrono::steady_clock::now();
  ASSERT_EQ(lifter.setIoStatus(1), 0);
  EXPECT_EQ(WaitForEndOfMove(lifter), 1);
  const auto took = std::chrono::steady_clock::now() - commanded;
  // No tick comes early; one may come late by less than a period.
  EXPECT_GE(took, std::chrono::duration<double>(static_cast<double>(ramp.size() - 1) / 600.0));
  EXPECT_LT(took, 60s);
  const std::vector<double> sent = SetPositions(dev);
  ASSERT_EQ(sent.size(), ramp.size());
  for (std::size_t i = 0; i < ramp.size(); ++i) {
    ASSERT_EQ(sent[i], static_cast<double>(ramp[i])) << "command " << i;
  }
}

TEST(LifterMotion, TorqueAtOrAboveTheLimitHoldsThatTick) {
  using vorn_motor_sim::CallFault;
  using vorn_motor_sim::Fault;
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  enum class Second { kRamp, kHeld, kNothing };  // what the second tick sends
  struct Case {
    const char* name;
    double torque;  // the second tick's readings
    double position;
    std::vector<CallFault> faults;
    Second second;
    unsigned int held;
    unsigned int unheld;  // ticks at the limit the other way, not held on
    std::string hold_line;
    std::string set_line;  // empty: the tick writes none
    unsigned int failed;
  };
  // A failed or non-finite reading is never sent: a failed position read
  // leaves 0.0, where the move started.
  const CallFault second_position_fails{"getPosition", Fault::kFails, 1, 1};
  const CallFault second_torque_fails{"getTorque", Fault::kFails, 1, 1};
  const std::vector<Case> cases = {
      {"3.5",
       3.5,
       7.25,
       {},
       Second::kHeld,
       1,
       0,
       "Get max torque: 3.5, stop.\r\n",
       "set pos -0.31, current pos 7.250, current torque: 3.500\r\n",
       0},
      {"3.6",
       3.6,
       7.25,
       {},
       Second::kHeld,
       1,
       0,
       "Get max torque: 3.6, stop.\r\n",
       "set pos -0.31, current pos 7.250, current torque: 3.600\r\n",
       0},
      {"3.4999",
       3.4999,
       7.25,
       {},
       Second::kRamp,
       0,
       0,
       "",
       "set pos -0.31, current pos 7.250, current torque: 3.500\r\n",
       0},
      {"-10",
       -10.0,
       7.25,
       {},
       Second::kRamp,
       0,
       1,
       "",
       "set pos -0.31, current pos 7.250, current torque: -10.000\r\n",
       0},
      // The limit the other way: the lifter pushes on, and counts the tick.
      {"-3.5",
       -3.5,
       7.25,
       {},
       Second::kRamp,
       0,
       1,
       "",
       "set pos -0.31, current pos 7.250, current torque: -3.500\r\n",
       0},
      {"-3.4999",
       -3.4999,
       7.25,
       {},
       Second::kRamp,
       0,
       0,
       "",
       "set pos -0.31, current pos 7.250, current torque: -3.500\r\n",
       0},
      {"hold at nan",
       3.6,
       kNan,
       {},
       Second::kNothing,
       1,
       0,
       "Get max torque: 3.6, stop.\r\n",
       "set pos -0.31, current pos nan, current torque: 3.600\r\n",
       1},
      {"hold, position fails",
       3.6,
       7.25,
       {second_position_fails},
       Second::kNothing,
       1,
       0,
       "Get max torque: 3.6, stop.\r\n",
       "set pos -0.31, current pos nan, current torque: 3.600\r\n",
       1},
      {"no hold, position fails",
       1.0,
       7.25,
       {second_position_fails},
       Second::kRamp,
       0,
       0,
       "",
       "set pos -0.31, current pos nan, current torque: 1.000\r\n",
       1},
      // Without a usable torque the tick cannot judge the hold.
      {"torque nan", kNan, 7.25, {}, Second::kNothing, 0, 0, "", "", 1},
      {"torque infinite", std::numeric_limits<double>::infinity(), 7.25, {}, Second::kNothing, 0, 0, "", "", 1},
      {"torque fails", 1.0, 7.25, {second_torque_fails}, Second::kNothing, 0, 0, "", "", 1},
  };
  const std::vector<float> ramp = ExpectedRamp(-kDefaultStep, 1.0F);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dev = UniqueDevName();
    vorn_motor_sim::MotorScript script;
    script.torques = {0.0, c.torque};
    script.positions = {0.0, c.position};
    script.faults = c.faults;
    vorn_motor_sim::Configure(dev, script);
    LogCapture capture;
    {
      UpdownLifter lifter(Description(dev, "maxpos: 1\n" + FastTicks()));
      ASSERT_EQ(lifter.setIoStatus(1), 0);
      // The hold does not end the move: the ramp still covers the travel.
      EXPECT_EQ(WaitForEndOfMove(lifter), 1);
      const UpdownLifter::MoveOutcome outcome = lifter.lastMove();
      EXPECT_TRUE(outcome.reached);
      EXPECT_FALSE(outcome.abandoned);
      EXPECT_EQ(outcome.heldTicks, c.held);
      EXPECT_EQ(outcome.unheldTicks, c.unheld);
      EXPECT_EQ(outcome.failedCalls, c.failed);
    }
    std::vector<double> expected(ramp.begin(), ramp.end());
    expected.push_back(expected.back());  // the destructor's hold (the model has not moved that far)
    if (c.second == Second::kHeld) {
      expected[1] = 7.25;
    } else if (c.second == Second::kNothing) {
      expected.erase(expected.begin() + 1);
    }
    std::vector<double> sent = SetPositions(dev);
    ASSERT_EQ(sent.size(), expected.size());
    sent.back() = expected.back();
    EXPECT_EQ(sent, expected);
    for (const vorn_motor_sim::Call& call : vorn_motor_sim::Calls(dev, "setPosition")) {
      EXPECT_EQ(call.result, 0);  // nothing unusable was ever sent
    }
    const std::string log = capture.Text();
    EXPECT_EQ(Occurrences(log, "Get max torque"), c.hold_line.empty() ? 0U : 1U);
    // The first such tick and the count at the end of the move.
    EXPECT_EQ(Occurrences(log, "in the direction the lifter does not hold in"), c.unheld > 0 ? 2U : 0U) << log;
    EXPECT_EQ(Occurrences(log, "set pos -0.31,"), c.set_line.empty() ? 0U : 1U);
    EXPECT_EQ(Occurrences(log, "[ERROR] Motor "), c.failed > 0 ? 2U : 0U) << log;  // the first failure and the count
    if (!c.set_line.empty()) {
      const std::size_t set_at = log.find("[INFO] " + c.set_line);
      ASSERT_NE(set_at, std::string::npos);
      if (!c.hold_line.empty()) {
        const std::size_t hold_at = log.find("[INFO] " + c.hold_line);
        ASSERT_NE(hold_at, std::string::npos);
        EXPECT_LT(hold_at, set_at);
      }
    }
  }
}

}  // namespace
