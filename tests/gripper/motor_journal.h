#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vorn_motor_sim/sim_control.h"

namespace gripper_test {

/// The speed the gripper sends with every motion command.
inline constexpr double kSpeed = 0.30679615757712825;

/// The constructor call of the one motor created with `dev_name` ({id, baudrate, inverse}).
inline std::vector<double> ConstructorArgs(const std::string& dev_name) {
  const std::vector<vorn_motor_sim::Call> calls = vorn_motor_sim::Calls(dev_name, "feetechMotor");
  EXPECT_EQ(calls.size(), 1U) << dev_name;
  return calls.empty() ? std::vector<double>{} : calls.front().args;
}

/// The arguments of the last `setGripperStatus` the motor of `dev_name` received ({target, speed, torque}).
inline std::vector<double> LastMotion(const std::string& dev_name) {
  const std::vector<vorn_motor_sim::Call> calls = vorn_motor_sim::Calls(dev_name, "setGripperStatus");
  return calls.empty() ? std::vector<double>{} : calls.back().args;
}

inline std::vector<std::string> OpsOf(const std::string& dev_name) {
  std::vector<std::string> ops;
  for (const vorn_motor_sim::Call& call : vorn_motor_sim::Journal(dev_name)) {
    ops.push_back(call.op);
  }
  return ops;
}

}  // namespace gripper_test
