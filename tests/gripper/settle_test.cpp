#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using Clock = std::chrono::steady_clock;

// The gripper moves at 0.3068 position units per second.
constexpr double kGripperSpeed = 0.30679615757712825;

class GripperSettle : public testing::Test {
 protected:
  void SetUp() override { vorn_motor_sim::Reset(); }
  void TearDown() override { vorn_motor_sim::Reset(); }

  static void ConfigureObstacle(const std::string& dev_name, double obstacle) {
    vorn_motor_sim::MotorScript script;
    script.obstacle = obstacle;
    vorn_motor_sim::Configure(dev_name, script);
  }
};

// One reading per 5 simulated milliseconds: the travel to the obstacle takes
// longer than the 400-poll hold-off, so rest is judged while still moving.
TEST_F(GripperSettle, ClosingOnAnObstacleReportsRestSoonAfterArrival) {
  std::string dev = "settle-manual";
  constexpr double kObstacle = 1.0;
  constexpr double kStep = 0.005;
  ConfigureObstacle(dev, kObstacle);
  vorn_motor_sim::UseManualClock();
  ServoGripper gripper(1, 115200, dev, false);
  gripper.setIoStatus(1);

  int status = 0;
  int polls = 0;
  while (status != 1 && polls < 5000) {
    vorn_motor_sim::AdvanceClock(kStep);
    gripper.getIoStatus(status);
    ++polls;
  }
  ASSERT_EQ(status, 1) << "no rest reported";

  const std::vector<vorn_motor_sim::Call> readings = vorn_motor_sim::Calls(dev, "getPosition");
  ASSERT_EQ(readings.size(), static_cast<std::size_t>(polls));
  std::size_t arrival = 0;
  while (arrival < readings.size() && readings[arrival].args.at(0) != kObstacle) {
    ++arrival;
  }
  ASSERT_LT(arrival, readings.size()) << "rest reported before the obstacle was reached";
  EXPECT_GT(arrival, 400U);
  EXPECT_NEAR(static_cast<double>(arrival), kObstacle / (kGripperSpeed * kStep), 2.0);
  // Reported within one window of the arrival, never before it.
  EXPECT_LE(readings.size() - arrival, 20U);
  EXPECT_DOUBLE_EQ(readings.back().args.at(0), kObstacle);
}

// The same on the real clock, as a host's polling loop would see it.
TEST_F(GripperSettle, ClosingOnAnObstacleInRealTime) {
  std::string dev = "settle-real";
  constexpr double kObstacle = 0.3;  // about 1 s of travel
  ConfigureObstacle(dev, kObstacle);
  ServoGripper gripper(1, 115200, dev, false);
  gripper.setIoStatus(1);
  const Clock::time_point commanded = Clock::now();

  int status = 0;
  const Clock::time_point deadline = commanded + std::chrono::seconds(30);
  while (status != 1 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    gripper.getIoStatus(status);
  }
  ASSERT_EQ(status, 1) << "no rest reported within the deadline";
  // Travel to the obstacle takes about 1 s; rest cannot be reported sooner.
  EXPECT_GE(Clock::now() - commanded, std::chrono::milliseconds(800));

  // The deciding reading is at the obstacle, and so (within the spread the
  // settle test tolerates) are the 19 before it.
  const std::vector<vorn_motor_sim::Call> readings = vorn_motor_sim::Calls(dev, "getPosition");
  ASSERT_GE(readings.size(), 20U);
  EXPECT_DOUBLE_EQ(readings.back().args.at(0), kObstacle);
  for (std::size_t k = readings.size() - 20; k < readings.size(); ++k) {
    EXPECT_NEAR(readings[k].args.at(0), kObstacle, 0.01) << "reading " << k;
  }
}

}  // namespace
