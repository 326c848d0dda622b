// The simulation under the library's own devices: the lifter's torque hold
// and the gripper's settling come from the model, not from scripted readings.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using testing::DoubleNear;
using testing::HasSubstr;

constexpr std::chrono::seconds kDeadline{60};

class SimWithDevicesTest : public testing::Test {
 protected:
  void SetUp() override { vorn_motor_sim::Reset(); }
  void TearDown() override { vorn_motor_sim::Reset(); }
};

TEST_F(SimWithDevicesTest, ALifterRunningIntoAnObstacleHoldsOnTheTorque) {
  vorn_motor_sim::MotorScript script;
  script.obstacle = 1.0;
  vorn_motor_sim::Configure("lifter-wall", script);
  // The ramp, 10 units/s, outruns the motor (5 units/s by default).
  const YAML::Node node = YAML::Load("{vendor: damiao, dev_name: lifter-wall, freq: 50, speed: 10, maxpos: 6}");
  testing::internal::CaptureStdout();
  int status = -1;
  {
    UpdownLifter lifter(node);
    // Status 0 ramps in the motor's positive direction, towards the obstacle.
    lifter.setInitialStatus(1);
    ASSERT_EQ(lifter.setIoStatus(0), 0);
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (lifter.getIoStatus(status) == -1 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 0);
  EXPECT_THAT(log, HasSubstr("Get max torque: "));
  const std::vector<vorn_motor_sim::Call> torques = vorn_motor_sim::Calls("lifter-wall", "getTorque");
  ASSERT_FALSE(torques.empty());
  double highest = 0.0;
  for (const vorn_motor_sim::Call& call : torques) {
    highest = std::max(highest, call.args.at(0));
  }
  EXPECT_GE(highest, 3.5);
  // It stopped at the obstacle and stayed there.
  const std::vector<vorn_motor_sim::Call> positions = vorn_motor_sim::Calls("lifter-wall", "getPosition");
  ASSERT_FALSE(positions.empty());
  EXPECT_THAT(positions.back().args.at(0), DoubleNear(1.0, 1e-9));
}

TEST_F(SimWithDevicesTest, AGripperClosingOnAnObjectSettlesThere) {
  vorn_motor_sim::MotorScript script;
  script.obstacle = 0.05;
  vorn_motor_sim::Configure("jaw-object", script);
  ServoGripper gripper(YAML::Load("{id: 1, dev_name: jaw-object, inverse: false, torque_low: 60, torque_high: 60}"));
  ASSERT_EQ(gripper.setIoStatus(1), 0);
  int status = 0;
  std::size_t polls = 0;
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (status != 1 && std::chrono::steady_clock::now() < deadline) {
    gripper.getIoStatus(status);
    ++polls;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(status, 1);
  EXPECT_GT(polls, 400U);
  const std::vector<vorn_motor_sim::Call> positions = vorn_motor_sim::Calls("jaw-object", "getPosition");
  ASSERT_GE(positions.size(), 20U);
  EXPECT_THAT(positions.back().args.at(0), DoubleNear(0.05, 1e-9));
}

}  // namespace
