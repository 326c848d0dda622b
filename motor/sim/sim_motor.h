#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "vorn_motor_sim/sim_control.h"

namespace vorn_motor_sim::detail {

/// The kinematic model and the call journal shared by both simulated motors.
class SimMotor {
 public:
  SimMotor(std::string kind, std::string dev_name);
  ~SimMotor();

  SimMotor(const SimMotor&) = delete;
  SimMotor& operator=(const SimMotor&) = delete;

  int initMotor();
  int setPosition(double position);
  int setVelocity(double velocity);
  int getVelocity(double& velocity);
  int getPosition(double& position);
  int setEnable(bool enable);
  int getEnableState(bool& enabled);
  int setZeroPosition(int value);
  int getTorque(double& torque);
  int setGripperStatus(double position, double speed, double torque);

  /// Records the constructor call; done by the vendor classes, which know their arguments.
  void RecordConstruction(std::vector<double> args);

 private:
  using Clock = std::chrono::steady_clock;

  void Advance();
  void Record(const char* op, std::vector<double> args, int result = 0);

  std::mutex mutex_;
  std::string kind_;
  std::string dev_name_;
  MotorScript script_;
  std::size_t next_torque_ = 0;
  std::size_t next_position_ = 0;
  bool enabled_ = false;
  double position_ = 0.0;  // absolute, in the frame at construction
  double zero_ = 0.0;
  double target_ = 0.0;    // absolute
  double speed_;
  double push_torque_ = 0.0;
  double velocity_ = 0.0;
  Clock::time_point last_update_;
};

}  // namespace vorn_motor_sim::detail
