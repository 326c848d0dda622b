// A host's view: a lifter from a parameter file, driven through the interface
// on the stand-in's kinematic model in real time.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "lifter_test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_io/vorn_io_interface.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using namespace lifter_test;

// A short travel at a ramp of 4 units/s, within the model's 5 units/s: a move
// takes about 0.25 s.
std::unique_ptr<VornIoInterface> LifterFromFile(const std::string& dev) {
  const std::filesystem::path file = std::filesystem::path(testing::TempDir()) / (dev + ".yaml");
  {
    std::ofstream out(file);
    out << "vendor: DaMiao\nid: 0x01\nmaster_id: 0x11\nmode: 1\ndev_name: " << dev
        << "\nmaxpos: 1.0\nfreq: 100\nspeed: 4\n";
  }
  auto lifter = std::make_unique<UpdownLifter>(YAML::LoadFile(file.string()));
  std::filesystem::remove(file);
  return lifter;
}

double LastPositionRead(const std::string& dev) { return vorn_motor_sim::Calls(dev, "getPosition").back().args.at(0); }

TEST(LifterHost, MovesToOneAndBackOnTheModel) {
  const std::string dev = UniqueDevName();
  std::unique_ptr<VornIoInterface> lifter = LifterFromFile(dev);

  ASSERT_EQ(lifter->setIoStatus(1), 0);
  EXPECT_EQ(WaitForEndOfMove(*lifter), 1);
  // The motor followed the ramp down to about the travel, in the move's frame.
  EXPECT_NEAR(LastPositionRead(dev), -0.95, 0.1);

  ASSERT_EQ(lifter->setIoStatus(0), 0);
  EXPECT_EQ(WaitForEndOfMove(*lifter), 0);
  EXPECT_NEAR(LastPositionRead(dev), 0.95, 0.1);
  // Running torque only: no tick held the motor.
  for (const vorn_motor_sim::Call& reading : vorn_motor_sim::Calls(dev, "getTorque")) {
    EXPECT_LT(std::abs(reading.args.at(0)), 3.5);
  }
}

TEST(LifterHost, ObstacleMakesTheTorqueHoldShow) {
  const std::string dev = UniqueDevName();
  vorn_motor_sim::MotorScript script;
  script.obstacle = 0.5;  // in the positive direction: the move to 0 pushes against it
  vorn_motor_sim::Configure(dev, script);
  LogCapture capture;
  {
    std::unique_ptr<VornIoInterface> lifter = LifterFromFile(dev);
    static_cast<UpdownLifter&>(*lifter).setInitialStatus(1);
    ASSERT_EQ(lifter->setIoStatus(0), 0);
    // Held at the obstacle, the move still ends when the ramp has covered the travel.
    EXPECT_EQ(WaitForEndOfMove(*lifter), 0);
    EXPECT_NEAR(LastPositionRead(dev), 0.5, 1e-9);
  }
  const std::string log = capture.Text();
  // The model winds up against the obstacle until a reading reaches the limit.
  EXPECT_GE(Occurrences(log, "[INFO] Get max torque: "), 1U);
  EXPECT_GE(Occurrences(log, ", current pos 0.500, current torque: "), 1U);
  EXPECT_EQ(Occurrences(log, "[INFO] Get to target pos.\r\n"), 1U);
}

}  // namespace
