#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "lifter_test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using namespace lifter_test;

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

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
      // One sample per tick, in time order, each on the lifter's schedule.
      const std::vector<vorn_io::LifterTick> trace = lifter.lastMoveTrace();
      ASSERT_EQ(trace.size(), 2865U);
      for (std::size_t i = 0; i < trace.size(); ++i) {
        ASSERT_TRUE(i == 0 || trace[i].seconds > trace[i - 1].seconds) << "tick " << i;
        ASSERT_GE(trace[i].lateness, 0.0) << "tick " << i;
        ASSERT_THAT(trace[i].sent, testing::NanSensitiveDoubleEq(i < ramp.size() ? sent[i] : kNan)) << "tick " << i;
      }
      const UpdownLifter::MoveOutcome outcome = lifter.lastMove();
      EXPECT_EQ(outcome.ticks, 2865U);
      EXPECT_EQ(outcome.untracedTicks, 0U);
      EXPECT_GT(outcome.meanTickPeriod, 0.0);
      EXPECT_GE(outcome.greatestLateness, 0.0);
      EXPECT_EQ(outcome.lastPosition, trace[trace.size() - 2].position);
      EXPECT_EQ(outcome.shortOfTravel, 450.0 - static_cast<double>(c.sign) * outcome.lastPosition);
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

TEST(LifterMotion, AMoveLongerThanItsTraceKeepsItsLastTicks) {
  constexpr float kStep = 0.005F;
  const std::vector<float> ramp = ExpectedRamp(-kStep, 400.0F);
  ASSERT_GT(ramp.size() + 1, vorn_io::kTraceCapacity);
  UpdownLifter lifter(Description(UniqueDevName(), "maxpos: 400\n" + FastTicks(kStep)));
  ASSERT_EQ(lifter.setIoStatus(1), 0);
  // The host's ticks beside the lifter's own: the move takes a second, not 80.
  while (lifter.moveProgress().moving) {
    lifter.Callback();
  }
  const std::vector<vorn_io::LifterTick> trace = lifter.lastMoveTrace();
  const UpdownLifter::MoveOutcome outcome = lifter.lastMove();
  EXPECT_EQ(outcome.ticks, ramp.size() + 1);
  ASSERT_EQ(trace.size(), vorn_io::kTraceCapacity);
  ASSERT_EQ(outcome.untracedTicks, outcome.ticks - vorn_io::kTraceCapacity);
  EXPECT_EQ(trace.front().setPosition, static_cast<double>(ramp[outcome.untracedTicks]));
  EXPECT_LT(trace.back().setPosition, -400.0);
  // A tick the host called has no schedule to be late on.
  EXPECT_TRUE(std::any_of(trace.begin(), trace.end(),
                          [](const vorn_io::LifterTick& tick) { return std::isnan(tick.lateness); }));
}

TEST(LifterMotion, TorqueAtOrAboveTheLimitHoldsThatTick) {
  using vorn_motor_sim::CallFault;
  using vorn_motor_sim::Fault;
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
      // The trace: one sample per tick, its set positions the ramp's; the
      // second tick shows what it read (NaN when unusable), what it sent
      // (the position read when held, NaN when nothing) and what failed.
      const std::vector<vorn_io::LifterTick> trace = lifter.lastMoveTrace();
      ASSERT_EQ(trace.size(), ramp.size() + 1);
      EXPECT_EQ(outcome.ticks, trace.size());
      for (std::size_t i = 0; i < ramp.size(); ++i) {
        EXPECT_EQ(trace[i].setPosition, static_cast<double>(ramp[i])) << "tick " << i;
      }
      const auto fails = [&c](const char* op, double value) {
        return !std::isfinite(value) ||
               std::any_of(c.faults.begin(), c.faults.end(), [op](const CallFault& fault) { return fault.op == op; });
      };
      const bool torque_fails = fails("getTorque", c.torque);
      const bool position_fails = fails("getPosition", c.position);
      const vorn_io::LifterTick& second = trace[1];
      EXPECT_EQ(std::isnan(second.torque), torque_fails);
      EXPECT_EQ(std::isnan(second.position), position_fails);
      EXPECT_EQ(second.failedCalls, (torque_fails ? vorn_io::LifterTick::kGetTorqueFailed : 0) |
                                        (position_fails ? vorn_io::LifterTick::kGetPositionFailed : 0));
      EXPECT_EQ(second.held, c.held > 0);
      EXPECT_EQ(second.unheld, c.unheld > 0);
      const double sent_second = c.second == Second::kHeld   ? second.position
                                 : c.second == Second::kRamp ? static_cast<double>(ramp[1])
                                                             : kNan;
      EXPECT_THAT(second.sent, testing::NanSensitiveDoubleEq(sent_second));
      EXPECT_TRUE(std::isnan(trace.back().sent));  // the tick that ends the move sends nothing
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
