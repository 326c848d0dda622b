#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "motor_journal.h"
#include "test_support.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using gripper_test::ConstructorArgs;
using gripper_test::kSpeed;
using gripper_test::LastMotion;
using gripper_test::OpsOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using vorn_io_test::LogCapture;
using vorn_io_test::LogOf;
using vorn_io_test::Occurrences;
using Clock = std::chrono::steady_clock;

class GripperControl : public testing::Test {
 protected:
  void SetUp() override { vorn_motor_sim::Reset(); }
  void TearDown() override { vorn_motor_sim::Reset(); }
};

std::unique_ptr<ServoGripper> MakeGripper(const std::string& dev_name, const std::string& extra_keys = "") {
  return std::make_unique<ServoGripper>(YAML::Load("id: 3\ndev_name: " + dev_name + "\n" + extra_keys));
}

// The statuses `count` successive polls report.
std::vector<int> Poll(VornIoInterface& gripper, int count) {
  std::vector<int> reports;
  reports.reserve(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) {
    int status = -1;
    EXPECT_EQ(gripper.getIoStatus(status), 0);
    EXPECT_TRUE(status == 0 || status == 1) << status;
    reports.push_back(status);
  }
  return reports;
}

// The 1-based indices of the polls that reported 1.
std::vector<int> Finishes(const std::vector<int>& reports) {
  std::vector<int> at;
  for (std::size_t k = 0; k < reports.size(); ++k) {
    if (reports[k] == 1) {
      at.push_back(static_cast<int>(k) + 1);
    }
  }
  return at;
}

std::vector<double> Repeat(double value, std::size_t count) {
  std::vector<double> values(count, value);  // not braces: that would be the list {count, value}
  return values;
}

std::vector<double> Alternating(std::size_t count) {
  std::vector<double> positions;
  positions.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    positions.push_back(k % 2 == 0 ? 1.0 : 1.01);
  }
  return positions;
}

void Script(const std::string& dev_name, std::vector<double> positions) {
  vorn_motor_sim::MotorScript script;
  script.positions = std::move(positions);
  vorn_motor_sim::Configure(dev_name, script);
}

TEST_F(GripperControl, StartUpEnablesThenHomesWithFullTorqueWhateverTheFileSays) {
  const std::string dev = "ctl-startup";
  std::unique_ptr<ServoGripper> gripper;
  const Clock::time_point before = Clock::now();
  const std::string out = LogOf([&] { gripper = MakeGripper(dev, "torque_low: 30\ntorque_high: 60\n"); });
  EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(30));

  EXPECT_THAT(OpsOf(dev), ElementsAre("feetechMotor", "initMotor", "setEnable", "setGripperStatus"));
  EXPECT_THAT(vorn_motor_sim::Calls(dev, "setEnable").at(0).args, ElementsAre(1));
  EXPECT_THAT(LastMotion(dev), ElementsAre(-10.0, kSpeed, 100.0));
  EXPECT_EQ(Occurrences(out, "[INFO] The gripper motor has been created.\n"), 1U) << out;
  EXPECT_LT(out.find("Load gripper yamlfile success!"), out.find("The gripper motor has been created."));

  gripper->setIoStatus(0);
  EXPECT_THAT(LastMotion(dev), ElementsAre(-10.0, kSpeed, 30.0));
}

TEST_F(GripperControl, CommandsSendTheirTargetAndTorqueAndLogTheValueGiven) {
  const std::string dev = "ctl-commands";
  std::unique_ptr<ServoGripper> gripper = MakeGripper(dev, "torque_low: 30\ntorque_high: 60\n");
  struct Case {
    int status;
    double target;
    double torque;
  };
  for (const Case c : {Case{1, 10.0, 60.0}, Case{5, 10.0, 60.0}, Case{-1, 10.0, 60.0}, Case{0, -10.0, 30.0}}) {
    SCOPED_TRACE(c.status);
    int result = -1;
    const std::string out = LogOf([&] { result = gripper->setIoStatus(c.status); });
    EXPECT_EQ(result, 0);
    EXPECT_THAT(LastMotion(dev), ElementsAre(c.target, kSpeed, c.torque));
    EXPECT_EQ(Occurrences(out, "[INFO] The gripper has get cmd : " + std::to_string(c.status) + "\n"), 1U) << out;
    EXPECT_EQ(Occurrences(out, "[INFO]"), 1U) << out;
  }
  EXPECT_EQ(gripper->setGripperMotion(3.5, 12.0), 0);
  EXPECT_THAT(LastMotion(dev), ElementsAre(3.5, kSpeed, 12.0));
}

TEST_F(GripperControl, DirectConstructorUsesItsArgumentsAndFullTorque) {
  std::string dev = "ctl-direct";
  ServoGripper gripper(-1, 1000000, dev, true);
  EXPECT_THAT(ConstructorArgs(dev), ElementsAre(4294967295.0, 1000000, 1));
  gripper.setIoStatus(0);
  EXPECT_THAT(LastMotion(dev), ElementsAre(-10.0, kSpeed, 100.0));
  gripper.setIoStatus(1);
  EXPECT_THAT(LastMotion(dev), ElementsAre(10.0, kSpeed, 100.0));
}

TEST_F(GripperControl, RestIsReportedOnlyFromThe401stPollAndAsASinglePulse) {
  const std::string dev = "ctl-rest";
  // Moving for the first 380 readings: only the last 20 count at poll 401.
  std::vector<double> positions;
  positions.reserve(2380);
  for (int k = 0; k < 380; ++k) {
    positions.push_back(0.05 * k);
  }
  const std::vector<double> rest = Repeat(2.5, 2000);
  positions.insert(positions.end(), rest.begin(), rest.end());
  Script(dev, positions);
  std::unique_ptr<ServoGripper> gripper = MakeGripper(dev);
  gripper->setIoStatus(1);

  EXPECT_THAT(Finishes(Poll(*gripper, 1203)), ElementsAre(401, 802, 1203));
  EXPECT_EQ(vorn_motor_sim::Calls(dev, "getPosition").size(), 1203U);
}

TEST_F(GripperControl, StartUpCountsAsACommand) {
  const std::string dev = "ctl-startup-rest";
  Script(dev, Repeat(-3.0, 500));
  std::unique_ptr<ServoGripper> gripper = MakeGripper(dev);
  EXPECT_THAT(Finishes(Poll(*gripper, 401)), ElementsAre(401));
}

TEST_F(GripperControl, PositionsAlternating001ApartNeverFinish) {
  const std::string dev = "ctl-alternating";
  Script(dev, Alternating(1500));
  std::unique_ptr<ServoGripper> gripper = MakeGripper(dev);
  gripper->setIoStatus(0);
  EXPECT_THAT(Finishes(Poll(*gripper, 1500)), ElementsAre());
}

TEST_F(GripperControl, AnUnreadablePositionIsNoSampleOfTheSettleTest) {
  struct Case {
    const char* name;
    std::vector<double> positions;
    std::vector<vorn_motor_sim::CallFault> faults;
    std::vector<int> finishes;
    std::size_t unusable;  // polls without a usable position
  };
  std::vector<double> nan_at_401 = Repeat(1.0, 400);
  nan_at_401.push_back(std::numeric_limits<double>::quiet_NaN());
  const std::vector<double> rest = Repeat(1.0, 100);
  nan_at_401.insert(nan_at_401.end(), rest.begin(), rest.end());
  const std::vector<Case> cases = {
      // The poll after the unusable one is the 401st sample.
      {"nan", nan_at_401, {}, {402}, 1},
      // A stale position repeated must not look like rest.
      {"fails from poll 401", Repeat(1.0, 500), {{"getPosition", vorn_motor_sim::Fault::kFails, 400, 10}}, {411}, 10},
      {"always fails", {}, {{"getPosition", vorn_motor_sim::Fault::kFails}}, {}, 430},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dev = std::string("ctl-unreadable-") + c.name;
    vorn_motor_sim::MotorScript script;
    script.positions = c.positions;
    script.faults = c.faults;
    vorn_motor_sim::Configure(dev, script);
    std::unique_ptr<ServoGripper> gripper = MakeGripper(dev);
    gripper->setIoStatus(1);
    std::vector<int> finishes;
    const std::string out = LogOf([&] { finishes = Finishes(Poll(*gripper, 430)); });
    EXPECT_EQ(finishes, c.finishes);
    // The trace has every poll: an unusable one as NaN, the variance from
    // the 20th usable position on, and the poll that found rest.
    const std::vector<vorn_io::GripperPoll> trace = gripper->lastMotionTrace();
    ASSERT_EQ(trace.size(), 430U);
    std::size_t unusable = 0;
    std::size_t usable = 0;
    for (std::size_t k = 0; k < trace.size(); ++k) {
      unusable += std::isnan(trace[k].position) ? 1 : 0;
      usable += std::isnan(trace[k].position) ? 0 : 1;
      EXPECT_EQ(std::isnan(trace[k].variance), usable < 20) << k;
      EXPECT_EQ(trace[k].settled, std::count(c.finishes.begin(), c.finishes.end(), k + 1) > 0) << k;
      EXPECT_TRUE(k == 0 || trace[k].seconds > trace[k - 1].seconds) << k;
    }
    EXPECT_EQ(unusable, c.unusable);
    // Said once per motion, not once per poll.
    EXPECT_EQ(Occurrences(out, "[ERROR] The gripper motor gave no usable position"), 1U) << out;
  }
}

TEST_F(GripperControl, AMotionTheMotorRefusesIsReportedAsRefused) {
  const std::string dev = "ctl-motion-refused";
  vorn_motor_sim::MotorScript script;
  script.faults = {{"setGripperStatus", vorn_motor_sim::Fault::kFails, 1, 1}};  // the start-up's succeeds
  vorn_motor_sim::Configure(dev, script);
  std::unique_ptr<ServoGripper> gripper = MakeGripper(dev);
  int result = 0;
  const std::string out = LogOf([&] { result = gripper->setIoStatus(1); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(Occurrences(out, "[ERROR] The gripper motor refused the motion to 10 (setGripperStatus returned -1)\n"), 1U)
      << out;
  EXPECT_EQ(gripper->setIoStatus(1), 0);
}

TEST_F(GripperControl, ACommandDuringEvaluationRestartsTheHoldOff) {
  const std::string dev = "ctl-restart";
  std::vector<double> positions = Alternating(450);
  const std::vector<double> rest = Repeat(-10.0, 1000);
  positions.insert(positions.end(), rest.begin(), rest.end());
  Script(dev, positions);
  std::unique_ptr<ServoGripper> gripper = MakeGripper(dev);
  gripper->setIoStatus(1);
  EXPECT_THAT(Finishes(Poll(*gripper, 450)), ElementsAre());

  gripper->setIoStatus(0);
  EXPECT_THAT(Finishes(Poll(*gripper, 401)), ElementsAre(401));
}

TEST_F(GripperControl, ParkingDisablesWaitsConfirmsAndReleasesAndSaysHowItWent) {
  struct Case {
    const char* dev;
    std::vector<vorn_motor_sim::CallFault> faults;
    bool query_fails;
    bool taken;
    bool confirmed;
    std::size_t errors;
  };
  // A motor library that throws from the disable must not end the host; a
  // disable that was not confirmed is said, never taken for one.
  const std::vector<Case> cases = {
      {"ctl-park", {}, false, true, true, 0},
      {"ctl-park-throws", {{"setEnable", vorn_motor_sim::Fault::kThrows, 1}}, false, false, false, 2},
      {"ctl-park-fails", {{"setEnable", vorn_motor_sim::Fault::kFails, 1}}, false, false, false, 2},
      {"ctl-park-query-fails", {}, true, true, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dev);
    vorn_motor_sim::MotorScript script;
    script.faults = c.faults;
    script.enableQueryFails = c.query_fails;
    vorn_motor_sim::Configure(c.dev, script);
    const std::size_t live_before = vorn_motor_sim::LiveMotors();
    std::unique_ptr<ServoGripper> gripper = MakeGripper(c.dev);
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), live_before + 1);

    LogCapture capture;
    const Clock::time_point before = Clock::now();
    const ParkOutcome outcome = gripper->park();
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(200));
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), live_before);
    EXPECT_TRUE(outcome.hadMotor);
    EXPECT_TRUE(outcome.finished);
    EXPECT_FALSE(outcome.held);
    EXPECT_EQ(outcome.disableTaken, c.taken);
    EXPECT_EQ(outcome.disableConfirmed, c.confirmed);
    EXPECT_EQ(outcome.motorMayBeEnabled(), !c.confirmed);
    EXPECT_EQ(Occurrences(capture.Text(), "[ERROR] "), c.errors);
    EXPECT_THAT(OpsOf(c.dev), ElementsAre("feetechMotor", "initMotor", "setEnable", "setGripperStatus", "setEnable",
                                          "getEnableState", "~feetechMotor"));
    if (c.taken) {
      EXPECT_THAT(vorn_motor_sim::Calls(c.dev, "setEnable").back().args, ElementsAre(0));
    }
    // Parked, the gripper refuses commands, and neither a second park nor
    // the destructor calls the motor again.
    EXPECT_EQ(gripper->setIoStatus(1), -1);
    EXPECT_EQ(gripper->park().disableConfirmed, c.confirmed);
    gripper.reset();
    EXPECT_EQ(OpsOf(c.dev).size(), 7U);
  }
}

TEST_F(GripperControl, ReinitialisingReleasesTheOldMotorFirst) {
  std::string dev = "ctl-reinit";
  const std::size_t live_before = vorn_motor_sim::LiveMotors();
  ServoGripper gripper(1, 115200, dev, false);
  gripper.InitServoGripper(2, 57600, dev, true);
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live_before + 1);
  EXPECT_THAT(OpsOf(dev),
              ElementsAre("feetechMotor", "initMotor", "setEnable", "setGripperStatus", "setEnable", "getEnableState",
                          "~feetechMotor", "feetechMotor", "initMotor", "setEnable", "setGripperStatus"));
  EXPECT_THAT(vorn_motor_sim::Calls(dev, "feetechMotor").back().args, ElementsAre(2, 57600, 1));
}

TEST_F(GripperControl, AFailingMotorConstructorEndsConstructionWithoutAMotor) {
  const std::string dev = "ctl-throws";
  vorn_motor_sim::MotorScript script;
  script.constructorThrows = true;
  vorn_motor_sim::Configure(dev, script);
  const std::size_t live_before = vorn_motor_sim::LiveMotors();

  const std::string out = LogOf([&] { EXPECT_THROW(MakeGripper(dev), std::runtime_error); });
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live_before);
  EXPECT_THAT(out, Not(HasSubstr("The gripper motor has been created.")));
}

TEST_F(GripperControl, AFailedReinitialisationLeavesAGripperThatIsSafeToUseAndDestroy) {
  const std::string good = "ctl-reinit-good";
  std::string bad = "ctl-reinit-bad";
  vorn_motor_sim::MotorScript script;
  script.constructorThrows = true;
  vorn_motor_sim::Configure(bad, script);
  const std::size_t live_before = vorn_motor_sim::LiveMotors();

  std::unique_ptr<ServoGripper> gripper = MakeGripper(good);
  EXPECT_THROW(gripper->InitServoGripper(4, 115200, bad, false), std::runtime_error);
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live_before);
  EXPECT_EQ(OpsOf(good).back(), "~feetechMotor");

  std::string out = LogOf([&] { EXPECT_EQ(gripper->setIoStatus(1), -1); });
  EXPECT_EQ(Occurrences(out, "[ERROR] The gripper has no motor, motion to 10 refused\n"), 1U) << out;
  EXPECT_THAT(Finishes(Poll(*gripper, 450)), ElementsAre());
  gripper.reset();
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live_before);
}

}  // namespace
