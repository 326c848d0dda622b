#include <chrono>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "lifter_test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using namespace lifter_test;
using Clock = std::chrono::steady_clock;

std::vector<std::string> OpsOf(const std::vector<vorn_motor_sim::Call>& calls) {
  std::vector<std::string> ops;
  ops.reserve(calls.size());
  for (const vorn_motor_sim::Call& call : calls) {
    ops.push_back(call.op);
  }
  return ops;
}

// Deletes through the interface, as a host does; returns how long it took.
Clock::duration TimedDelete(std::unique_ptr<VornIoInterface> device) {
  const Clock::time_point start = Clock::now();
  device.reset();
  return Clock::now() - start;
}

TEST(LifterShutdown, HoldsDisablesAndPollsOnce) {
  struct Case {
    const char* name;
    double position;  // the destructor's reading: idle ticks read nothing
    std::vector<vorn_motor_sim::CallFault> faults;
    bool query_fails;
    int query_result;
    bool holds;
  };
  const vorn_motor_sim::CallFault read_fails{"getPosition", vorn_motor_sim::Fault::kFails};
  const vorn_motor_sim::CallFault read_throws{"getPosition", vorn_motor_sim::Fault::kThrows};
  // Both ways out of the poll on the first query: no sleep follows. A reading
  // that failed or is no number is never sent, and the motor is disabled anyway.
  const std::vector<Case> cases = {
      {"reports disabled", 12.5, {}, false, 0, true},
      {"query fails", 12.5, {}, true, -1, true},
      {"position fails", 12.5, {read_fails}, false, 0, false},
      {"position throws", 12.5, {read_throws}, false, 0, false},
      {"position nan", std::numeric_limits<double>::quiet_NaN(), {}, false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dev = UniqueDevName();
    vorn_motor_sim::MotorScript script;
    script.positions = {c.position};
    script.faults = c.faults;
    script.enableQueryFails = c.query_fails;
    vorn_motor_sim::Configure(dev, script);
    const std::size_t motors = vorn_motor_sim::LiveMotors();

    auto lifter = std::make_unique<UpdownLifter>(Description(dev));
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), motors + 1);
    LogCapture capture;
    EXPECT_LT(TimedDelete(std::move(lifter)), std::chrono::milliseconds(100));
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), motors);
    EXPECT_EQ(Occurrences(capture.Text(), "[ERROR] "), c.holds ? 0U : 1U);

    const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(dev);
    std::vector<std::string> expected = {"damiaoMotor", "initMotor", "setZeroPosition", "setEnable", "getPosition"};
    if (c.holds) {
      expected.emplace_back("setPosition");
    }
    expected.insert(expected.end(), {"setEnable", "getEnableState", "~damiaoMotor"});
    ASSERT_EQ(OpsOf(journal), expected);
    if (c.holds) {
      EXPECT_EQ(journal[5].args, std::vector<double>{12.5});
    }
    EXPECT_EQ(journal[expected.size() - 3].args, std::vector<double>{0.0});
    EXPECT_EQ(journal[expected.size() - 2].result, c.query_result);
  }
}

TEST(LifterShutdown, MotorThatNeverDisablesIsReleasedAfterFiveSeconds) {
  const std::string dev = UniqueDevName();
  vorn_motor_sim::MotorScript script;
  script.neverDisables = true;
  vorn_motor_sim::Configure(dev, script);
  const std::size_t motors = vorn_motor_sim::LiveMotors();

  LogCapture capture;
  const Clock::duration took = TimedDelete(std::make_unique<UpdownLifter>(Description(dev)));
  EXPECT_GE(took, std::chrono::milliseconds(5000));  // 50 rounds of 100 ms
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_EQ(Occurrences(capture.Text(), "[ERROR] Motor still enabled after 50 polls, released anyway\r\n"), 1U);
  EXPECT_EQ(CountOf(dev, "getEnableState"), 51U);
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), motors);
}

TEST(LifterShutdown, NoTickOnceDestructionHasBegun) {
  for (int cycle = 0; cycle < 100; ++cycle) {
    const std::string dev = UniqueDevName();
    {
      UpdownLifter lifter(Description(dev, FastTicks()));
      ASSERT_EQ(lifter.setIoStatus(1), 0);
      ASSERT_TRUE(WaitFor([&] { return CountOf(dev, "setPosition") > 0; })) << cycle;
    }
    // Deleted mid-move: the journal ends with the destructor's sequence, and
    // its hold uses the position it has just read.
    const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(dev);
    ASSERT_GE(journal.size(), 5U);
    const std::vector<vorn_motor_sim::Call> tail(journal.end() - 5, journal.end());
    ASSERT_EQ(OpsOf(tail),
              (std::vector<std::string>{"getPosition", "setPosition", "setEnable", "getEnableState", "~damiaoMotor"}))
        << cycle;
    EXPECT_EQ(tail[1].args, tail[0].args) << cycle;
    EXPECT_EQ(tail[2].args, std::vector<double>{0.0}) << cycle;
  }
}

}  // namespace
