#include <dirent.h>

#include <chrono>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "test_support.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using Clock = std::chrono::steady_clock;

using vorn_io_test::Occurrences;
using vorn_io_test::ThreadCount;

YAML::Node Lifter(const std::string& vendor, const std::string& dev_name, unsigned freq) {
  YAML::Node node;
  node["vendor"] = vendor;
  node["dev_name"] = dev_name;
  node["freq"] = freq;
  return node;
}

// A lifter whose move takes 7 ticks of 1 ms, the last only ending it.
YAML::Node ShortMoves(const std::string& dev_name) {
  YAML::Node node = Lifter("damiao", dev_name, 1000);
  node["maxpos"] = 1.0;
  node["speed"] = 157.0;
  return node;
}

// Waits until the lifter reports something other than "moving"; returns it.
int WaitForEndOfMove(UpdownLifter& lifter) {
  const int status = vorn_io_test::WaitForEndOfMove(lifter);
  EXPECT_NE(status, -1) << "the move did not end";
  return status;
}

std::size_t CountOf(const std::string& dev, const char* op) { return vorn_motor_sim::Calls(dev, op).size(); }

// Whether some motor of `dev` was released while the last setEnable it saw
// (that took effect) enabled it.
bool ReleasedEnabled(const std::string& dev) {
  bool enabled = false;
  for (const vorn_motor_sim::Call& call : vorn_motor_sim::Journal(dev)) {
    if (call.op == "setEnable" && !call.args.empty()) {
      enabled = call.args[0] != 0.0;
    } else if (call.op.front() == '~') {
      if (enabled) {
        return true;
      }
      enabled = false;
    }
  }
  return false;
}

using vorn_motor_sim::CallFault;
using vorn_motor_sim::Fault;

// A motor that never reports disabled, on a lifter deleted in the middle of a
// move with ticks back to back: delete gives up after its 50 polls, and
// through those 5 s the stopped timer sends the motor nothing.
TEST(MotorFaults, NeverDisablingMotorMidMoveIsReleasedWithoutFurtherTicks) {
  vorn_motor_sim::Reset();
  const std::string dev = "faults-never-disables";
  vorn_motor_sim::MotorScript script;
  script.neverDisables = true;
  vorn_motor_sim::Configure(dev, script);

  auto lifter = std::make_unique<UpdownLifter>(Lifter("damiao", dev, 2000));
  ASSERT_EQ(lifter->setIoStatus(1), 0);
  vorn_io_test::LogCapture capture;
  const Clock::time_point begin = Clock::now();
  lifter.reset();
  const Clock::duration took = Clock::now() - begin;
  const std::string out = capture.Text();

  EXPECT_LT(took, std::chrono::seconds(15));
  EXPECT_NE(out.find("[ERROR] Motor still enabled after 50 polls"), std::string::npos) << out;
  const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(dev);
  std::size_t disable = 0;
  while (disable < journal.size() && !(journal[disable].op == "setEnable" && journal[disable].args[0] == 0.0)) {
    ++disable;
  }
  ASSERT_LT(disable, journal.size());
  std::vector<std::string> after;
  for (std::size_t i = disable + 1; i < journal.size(); ++i) {
    after.push_back(journal[i].op);
  }
  std::vector<std::string> expected(51, "getEnableState");
  expected.emplace_back("~damiaoMotor");
  EXPECT_EQ(after, expected);
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), 0U);
  vorn_motor_sim::Reset();
}

// An exception of the motor library during construction reaches the host
// from the device's constructor, with nothing left behind: no motor, no
// thread, no memory (the ASan build checks the last), and no motor released
// while enabled.
TEST(MotorFaults, ThrowingMotorLibraryAtConstructionReachesTheHostAndLeavesNothing) {
  vorn_motor_sim::Reset();
  struct Case {
    const char* name;
    vorn_motor_sim::MotorScript script;
    bool lifter_throws;
    std::size_t calls;  // journalled on a motor that never came to be; 0: any
  };
  vorn_motor_sim::MotorScript constructor;
  constructor.constructorThrows = true;
  vorn_motor_sim::MotorScript enables_then_throws;  // as a thread that cannot be created would, after the enable
  enables_then_throws.faults = {{"setEnable", Fault::kThrowsAfterActing, 0, 1}};
  vorn_motor_sim::MotorScript homing_throws;  // the gripper's first motion
  homing_throws.faults = {{"setGripperStatus", Fault::kThrows}};
  const std::vector<Case> cases = {
      {"constructor", constructor, true, 1},
      {"enable", enables_then_throws, true, 0},
      {"homing", homing_throws, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<const char*> vendors =
        c.lifter_throws ? std::vector<const char*>{"damiao", "feetech"} : std::vector<const char*>{};
    for (const char* vendor : vendors) {
      const std::string dev = std::string("faults-throws-") + c.name + "-" + vendor;
      vorn_motor_sim::Configure(dev, c.script);
      const std::size_t threads = ThreadCount();
      EXPECT_THROW(UpdownLifter{Lifter(vendor, dev, 1000)}, std::runtime_error) << vendor;
      EXPECT_EQ(vorn_motor_sim::LiveMotors(), 0U) << vendor;
      EXPECT_EQ(ThreadCount(), threads) << vendor;
      EXPECT_FALSE(ReleasedEnabled(dev)) << vendor;
      if (c.calls > 0) {
        const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(dev);
        ASSERT_EQ(journal.size(), c.calls) << vendor;
        EXPECT_EQ(journal[0].result, -1) << vendor;
      }
    }

    std::string dev = std::string("faults-throws-gripper-") + c.name;
    vorn_motor_sim::Configure(dev, c.script);
    EXPECT_THROW(ServoGripper(1, 115200, dev, false), std::runtime_error);
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), 0U);
    EXPECT_FALSE(ReleasedEnabled(dev));
  }
  vorn_motor_sim::Reset();
}

// Every failing motor call of a move counts; a move whose motor keeps failing
// (or throws) is given up in the state it started from, and the lifter's
// tick lives on: the next move, on a motor that works again, is run.
TEST(MotorFaults, AMoveOnAFailingMotorIsAbandonedNotReported) {
  vorn_motor_sim::Reset();
  constexpr unsigned int kTicks = UpdownLifter::kAbandonAfterFailingTicks;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<CallFault> faults;
    std::vector<double> torques;
    bool abandoned;
    unsigned int failed;
    std::size_t commands;  // setPosition calls of the move
    std::vector<std::string> lines;
    unsigned int held = 0;
  };
  const std::string not_taken =
      "[ERROR] The motor did not take the move's last command; move abandoned, lifter in neither state\r\n";
  const std::vector<Case> cases = {
      {"torque fails",
       {{"getTorque", Fault::kFails, 0, kTicks}},
       {},
       true,
       kTicks,
       0,
       {"[ERROR] Motor getTorque returned -1 during the move, further failures are counted\r\n",
        "[ERROR] Motor getTorque failed 5 times during the move\r\n",
        "[ERROR] Motor failed on 5 ticks in a row; move abandoned, lifter in neither state\r\n"}},
      {"torque not finite",
       {},
       std::vector<double>(kTicks, nan),
       true,
       kTicks,
       0,
       {"[ERROR] Motor getTorque read nan during the move, further failures are counted\r\n",
        "[ERROR] Motor getTorque failed 5 times during the move\r\n"}},
      {"position fails",
       {{"getPosition", Fault::kFails, 0, kTicks}},
       {},
       true,
       kTicks,
       kTicks,
       {"[ERROR] Motor getPosition failed 5 times during the move\r\n"}},
      {"command fails",
       {{"setPosition", Fault::kFails, 0, kTicks}},
       {},
       true,
       kTicks,
       kTicks,
       {"[ERROR] Motor setPosition failed 5 times during the move\r\n"}},
      {"all fail",
       {{"getTorque", Fault::kFails, 0, kTicks}, {"getPosition", Fault::kFails, 0, kTicks}},
       {},
       true,
       2 * kTicks,
       0,
       {"[ERROR] Motor getTorque failed 5 times during the move\r\n",
        "[ERROR] Motor getPosition failed 5 times during the move\r\n"}},
      {"torque throws",
       {{"getTorque", Fault::kThrows, 1, 1}},
       {},
       true,
       1,
       1,
       {"[ERROR] Motor getTorque threw: simulated damiaoMotor",
        "[ERROR] Motor library threw during the move: simulated damiaoMotor"}},
      {"command throws",
       {{"setPosition", Fault::kThrows, 0, 1}},
       {},
       true,
       1,
       1,
       {"[ERROR] Motor setPosition failed 1 times during the move\r\n"}},
      // Fewer failing ticks in a row than it takes: the move goes on.
      {"recovers",
       {{"getTorque", Fault::kFails, 0, kTicks - 1}},
       {},
       false,
       kTicks - 1,
       7 - kTicks,
       {"[ERROR] Motor getTorque failed 4 times during the move\r\n"}},
      // A failing position reading does not keep the ramp's command from the motor.
      {"recovers between failures",
       {{"getTorque", Fault::kFails, 0, kTicks - 1}, {"getPosition", Fault::kFails, kTicks, 1}},
       {},
       false,
       kTicks,
       2,
       {"[ERROR] Motor getTorque failed 4 times during the move\r\n",
        "[ERROR] Motor getPosition failed 1 times during the move\r\n"}},
      // The move is reached only if the motor took its last command.
      {"last command fails",
       {{"setPosition", Fault::kFails, kTicks, 1}},
       {},
       true,
       1,
       6,
       {"[ERROR] Motor setPosition failed 1 times during the move\r\n", not_taken}},
      {"last tick sends nothing",
       {{"getTorque", Fault::kFails, kTicks, 1}},
       {},
       true,
       1,
       kTicks,
       {"[ERROR] Motor getTorque failed 1 times during the move\r\n", not_taken}},
      {"last tick cannot hold",
       {{"getPosition", Fault::kFails, kTicks, 1}},
       {0.0, 0.0, 0.0, 0.0, 0.0, 3.6},
       true,
       1,
       kTicks,
       {"[ERROR] No usable position to hold at, hold skipped\r\n", not_taken},
       1},
      // The hold's command is the last one; one held tick is still a held move.
      {"last tick held", {}, {0.0, 0.0, 0.0, 0.0, 0.0, 3.6}, false, 0, 6, {"[INFO] Get max torque: 3.6, stop.\r\n"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dev = std::string("faults-move-") + c.name;
    vorn_motor_sim::MotorScript script;
    script.faults = c.faults;
    script.torques = c.torques;
    vorn_motor_sim::Configure(dev, script);
    vorn_io_test::LogCapture capture;
    {
      UpdownLifter lifter(ShortMoves(dev));
      ASSERT_EQ(lifter.setIoStatus(1), 0);
      EXPECT_EQ(WaitForEndOfMove(lifter), c.abandoned ? 0 : 1);
      const UpdownLifter::MoveOutcome outcome = lifter.lastMove();
      EXPECT_EQ(outcome.reached, !c.abandoned);
      EXPECT_EQ(outcome.abandoned, c.abandoned);
      EXPECT_EQ(outcome.failedCalls, c.failed);
      EXPECT_EQ(outcome.heldTicks, c.held);
      // Nothing more once the move has ended.
      EXPECT_EQ(CountOf(dev, "setPosition"), c.commands);
      if (c.abandoned) {
        // Stopped mid-travel, the lifter is in neither state: a move to the
        // state it had is run, not answered as already there.
        ASSERT_EQ(lifter.setIoStatus(0), 0);
        EXPECT_EQ(WaitForEndOfMove(lifter), 0);
        EXPECT_TRUE(lifter.lastMove().reached);
        EXPECT_EQ(lifter.lastMove().failedCalls, 0U);
      }
    }
    const std::string log = capture.Text();
    for (const std::string& line : c.lines) {
      EXPECT_EQ(Occurrences(log, line), 1U) << line << "\n" << log;
    }
    EXPECT_EQ(Occurrences(log, "move abandoned"), c.abandoned ? 1U : 0U);
    EXPECT_EQ(Occurrences(log, "Lifter already in stat"), 0U);
    EXPECT_EQ(Occurrences(log, "Get to target pos."), 1U);  // the first move or the one after it
  }
  vorn_motor_sim::Reset();
}

TEST(MotorFaults, AfterAnAbandonedMoveTheHostReHomesWithSetInitialStatus) {
  vorn_motor_sim::Reset();
  const std::string dev = "faults-rehome";
  vorn_motor_sim::MotorScript script;
  script.faults = {{"getTorque", Fault::kThrows, 0, 1}};
  vorn_motor_sim::Configure(dev, script);
  vorn_io_test::LogCapture capture;
  {
    UpdownLifter lifter(ShortMoves(dev));
    ASSERT_EQ(lifter.setIoStatus(1), 0);
    EXPECT_EQ(WaitForEndOfMove(lifter), 0);
    ASSERT_TRUE(lifter.lastMove().abandoned);
    lifter.setInitialStatus(1);
    EXPECT_EQ(lifter.setIoStatus(1), 0);
    int status = -1;
    EXPECT_EQ(lifter.getIoStatus(status), 1);  // answered, no move started
  }
  const std::string log = capture.Text();
  EXPECT_EQ(Occurrences(log, "[WARN] Lifter already in stat: 1\r\n"), 1U) << log;
  EXPECT_EQ(CountOf(dev, "setZeroPosition"), 2U);  // the start-up's and the abandoned move's
  vorn_motor_sim::Reset();
}

// A move would run from an old zero, or on a motor that never started: refused.
TEST(MotorFaults, AMoveIsRefusedWhenTheMotorCannotSetItsZeroOrDidNotStart) {
  vorn_motor_sim::Reset();
  struct Case {
    const char* name;
    CallFault fault;
    std::vector<std::string> lines;
    bool later_move_runs;
  };
  const std::vector<Case> cases = {
      {"zero fails",
       {"setZeroPosition", Fault::kFails, 1, 1},
       {"[ERROR] Motor setZeroPosition returned -1, cmd rejected: 1\r\n"},
       true},
      {"zero throws",
       {"setZeroPosition", Fault::kThrows, 1, 1},
       {"[ERROR] Motor setZeroPosition threw: simulated damiaoMotor"},
       true},
      {"init fails",
       {"initMotor", Fault::kFails},
       {"[ERROR] Motor initMotor returned -1, moves will be refused\r\n",
        "[ERROR] Lifter motor failed to start, cmd rejected: 1\r\n"},
       false},
      {"enable fails",
       {"setEnable", Fault::kFails, 0, 1},
       {"[ERROR] Motor setEnable returned -1, moves will be refused\r\n",
        "[ERROR] Lifter motor failed to start, cmd rejected: 1\r\n"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dev = std::string("faults-refused-") + c.name;
    vorn_motor_sim::MotorScript script;
    script.faults = {c.fault};
    vorn_motor_sim::Configure(dev, script);
    std::size_t threads_with_lifter = 0;
    vorn_io_test::LogCapture capture;
    {
      UpdownLifter lifter(ShortMoves(dev));
      threads_with_lifter = ThreadCount();
      EXPECT_EQ(lifter.setIoStatus(1), -1);
      int status = -1;
      EXPECT_EQ(lifter.getIoStatus(status), 0);
      EXPECT_EQ(CountOf(dev, "setPosition"), 0U);
      if (c.later_move_runs) {
        ASSERT_EQ(lifter.setIoStatus(1), 0);
        EXPECT_EQ(WaitForEndOfMove(lifter), 1);
      } else {
        EXPECT_EQ(lifter.setIoStatus(1), -1);
      }
    }
    const std::string log = capture.Text();
    // A lifter whose motor did not start has nothing to tick.
    EXPECT_EQ(threads_with_lifter - ThreadCount(), c.later_move_runs ? 1U : 0U);
    for (const std::string& line : c.lines) {
      EXPECT_GE(Occurrences(log, line), 1U) << line << "\n" << log;
    }
    EXPECT_FALSE(ReleasedEnabled(dev));
  }
  vorn_motor_sim::Reset();
}

}  // namespace
