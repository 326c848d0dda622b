#include <chrono>
#include <cstddef>
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

TEST(LifterShutdown, HoldsDisablesPollsAndSaysHowItWent) {
  struct Case {
    const char* name;
    double position;  // the shutdown's reading: idle ticks read nothing
    std::vector<vorn_motor_sim::CallFault> faults;
    bool query_fails;
    bool sends_hold;
    bool holds;
    bool taken;
    bool confirmed;
    std::size_t errors;
  };
  using vorn_motor_sim::Fault;
  const vorn_motor_sim::CallFault read_fails{"getPosition", Fault::kFails};
  const vorn_motor_sim::CallFault read_throws{"getPosition", Fault::kThrows};
  const vorn_motor_sim::CallFault hold_fails{"setPosition", Fault::kFails};
  const vorn_motor_sim::CallFault disable_fails{"setEnable", Fault::kFails, 1};
  const vorn_motor_sim::CallFault disable_throws{"setEnable", Fault::kThrows, 1};
  const vorn_motor_sim::CallFault query_throws{"getEnableState", Fault::kThrows};
  // Every way out of the poll on its first query: no sleep follows. A reading
  // that failed or is no number is never sent, and the motor is disabled
  // anyway; a disable that failed or threw is still asked about, and only a
  // motor that says it is disabled counts as disabled.
  const std::vector<Case> cases = {
      {"reports disabled", 12.5, {}, false, true, true, true, true, 0},
      {"query fails", 12.5, {}, true, true, true, true, false, 1},
      {"query throws", 12.5, {query_throws}, false, true, true, true, false, 1},
      {"position fails", 12.5, {read_fails}, false, false, false, true, true, 1},
      {"position throws", 12.5, {read_throws}, false, false, false, true, true, 1},
      {"position nan", std::numeric_limits<double>::quiet_NaN(), {}, false, false, false, true, true, 1},
      {"hold fails", 12.5, {hold_fails}, false, true, false, true, true, 1},
      {"disable fails", 12.5, {disable_fails}, true, true, true, false, false, 2},
      {"disable throws", 12.5, {disable_throws}, true, true, true, false, false, 2},
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
    const Clock::time_point before = Clock::now();
    const ParkOutcome outcome = lifter->park();
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(1000));
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), motors);
    EXPECT_EQ(Occurrences(capture.Text(), "[ERROR] "), c.errors);
    EXPECT_TRUE(outcome.hadMotor);
    EXPECT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.held, c.holds);
    EXPECT_EQ(outcome.disableTaken, c.taken);
    EXPECT_EQ(outcome.disableConfirmed, c.confirmed);
    EXPECT_EQ(outcome.motorMayBeEnabled(), !c.confirmed);
    EXPECT_EQ(outcome.hungCall, nullptr);

    const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(dev);
    std::vector<std::string> expected = {"damiaoMotor", "initMotor", "setZeroPosition", "setEnable", "getPosition"};
    if (c.sends_hold) {
      expected.emplace_back("setPosition");
    }
    expected.insert(expected.end(), {"setEnable", "getEnableState", "~damiaoMotor"});
    ASSERT_EQ(OpsOf(journal), expected);
    if (c.holds) {
      EXPECT_EQ(journal[5].args, std::vector<double>{12.5});
    }
    // Parked, the lifter refuses moves; a second park and the destructor
    // leave the motor alone.
    EXPECT_EQ(lifter->setIoStatus(1), -1);
    EXPECT_EQ(lifter->park().disableConfirmed, c.confirmed);
    lifter.reset();
    EXPECT_EQ(vorn_motor_sim::Journal(dev).size(), expected.size());
  }
}

TEST(LifterShutdown, MotorThatNeverDisablesIsReleasedAfterFiveSeconds) {
  const std::string dev = UniqueDevName();
  vorn_motor_sim::MotorScript script;
  script.neverDisables = true;
  vorn_motor_sim::Configure(dev, script);
  const std::size_t motors = vorn_motor_sim::LiveMotors();

  LogCapture capture;
  UpdownLifter lifter(Description(dev));
  const Clock::time_point before = Clock::now();
  const ParkOutcome outcome = lifter.park();
  const Clock::duration took = Clock::now() - before;
  EXPECT_GE(took, std::chrono::milliseconds(5000));  // 50 rounds of 100 ms
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_TRUE(outcome.finished);
  EXPECT_TRUE(outcome.held);
  EXPECT_TRUE(outcome.disableTaken);
  EXPECT_FALSE(outcome.disableConfirmed);
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

TEST(LifterShutdown, AHungMotorCallHoldsNeitherACommandNorTheDestructor) {
  struct Case {
    const char* name;
    vorn_motor_sim::CallFault hang;
    bool moving;  // the hang comes in a tick of a move
    const char* call;
  };
  using vorn_motor_sim::Fault;
  const std::vector<Case> cases = {
      {"tick", {"getTorque", Fault::kStalls, 3, 1}, true, "getTorque"},
      {"disable", {"setEnable", Fault::kStalls, 1, 1}, false, "setEnable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dev = UniqueDevName();
    vorn_motor_sim::MotorScript script;
    script.faults = {c.hang};
    vorn_motor_sim::Configure(dev, script);
    const std::size_t motors = vorn_motor_sim::LiveMotors();
    auto lifter = std::make_unique<UpdownLifter>(Description(dev, FastTicks()));
    LogCapture capture;
    if (c.moving) {
      ASSERT_EQ(lifter->setIoStatus(1), 0);
      // The hung call, not the same call of an earlier tick caught in passing:
      // one that has been under way for 100 ms.
      ASSERT_TRUE(WaitFor([&] {
        const UpdownLifter::MoveProgress progress = lifter->moveProgress();
        return progress.motorCall != nullptr && std::string(progress.motorCall) == c.call &&
               Clock::now() - progress.motorCallSince > std::chrono::milliseconds(100);
      }));
      // A command gives up on the tick within its bound, and says why.
      const Clock::time_point before = Clock::now();
      EXPECT_EQ(lifter->setIoStatus(0), -1);
      EXPECT_LT(Clock::now() - before, std::chrono::seconds(2));
      EXPECT_EQ(Occurrences(capture.Text(), std::string("[ERROR] Lifter tick in motor call ") + c.call + " for "), 1U);
    }
    // The destructor returns within its bound, leaves the motor alive, and
    // says which call hung and that the motor could not be parked.
    const Clock::duration took = TimedDelete(std::move(lifter));
    EXPECT_LT(took, UpdownLifter::kParkWait + std::chrono::seconds(2));
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), motors + 1);
    const std::string log = capture.Text();
    EXPECT_EQ(Occurrences(log, std::string("[ERROR] Motor call ") + c.call + " has not returned after "), 1U) << log;
    EXPECT_EQ(Occurrences(log, "the motor could not be parked and may still be enabled\r\n"), 1U);

    // Released, the call returns, and the shutdown left on the lifter's own
    // thread finishes and releases the motor.
    vorn_motor_sim::ReleaseStalledCalls();
    ASSERT_TRUE(WaitFor([&] { return vorn_motor_sim::LiveMotors() == motors; }));
    const std::vector<std::string> ops = OpsOf(vorn_motor_sim::Journal(dev));
    ASSERT_GE(ops.size(), 3U);
    EXPECT_EQ(std::vector<std::string>(ops.end() - 3, ops.end()),
              (std::vector<std::string>{"setEnable", "getEnableState", "~damiaoMotor"}));
  }
}

TEST(LifterShutdown, ParkReportsAHungCallWhileItLastsAndAMoveItEndsIsAbandoned) {
  const std::string dev = UniqueDevName();
  vorn_motor_sim::MotorScript script;
  script.faults = {{"getEnableState", vorn_motor_sim::Fault::kStalls, 0, 1}};
  vorn_motor_sim::Configure(dev, script);
  UpdownLifter lifter(Description(dev, FastTicks()));
  ASSERT_EQ(lifter.setIoStatus(1), 0);
  ASSERT_TRUE(WaitFor([&] { return CountOf(dev, "setPosition") > 0; }));
  const ParkOutcome hung = lifter.park();
  EXPECT_TRUE(hung.hadMotor);
  EXPECT_FALSE(hung.finished);
  EXPECT_TRUE(hung.held);  // what went before the hang is known
  EXPECT_TRUE(hung.disableTaken);
  EXPECT_FALSE(hung.disableConfirmed);
  ASSERT_NE(hung.hungCall, nullptr);
  EXPECT_STREQ(hung.hungCall, "getEnableState");
  // The move ended where it stood, given up, and polls say so at once.
  int status = 0;
  EXPECT_EQ(lifter.getIoStatus(status), 0);
  EXPECT_TRUE(lifter.lastMove().abandoned);
  EXPECT_STREQ(lifter.moveProgress().motorCall, "getEnableState");

  vorn_motor_sim::ReleaseStalledCalls();
  ASSERT_TRUE(WaitFor([&] { return lifter.park().finished; }));
  const ParkOutcome done = lifter.park();
  EXPECT_TRUE(done.disableConfirmed);
  EXPECT_EQ(done.hungCall, nullptr);
}

}  // namespace
