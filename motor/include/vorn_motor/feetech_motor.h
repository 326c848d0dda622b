#pragma once

#include <memory>
#include <string>

#include "vorn_motor/motor_interface.h"

/// A Feetech bus servo on a serial line.
class feetechMotor : public MotorInterface {
 public:
  feetechMotor(unsigned int id, unsigned int baudrate, std::string& dev_name, bool inverse);
  ~feetechMotor() override;

  feetechMotor(const feetechMotor&) = delete;
  feetechMotor& operator=(const feetechMotor&) = delete;

  int initMotor() override;
  int setPosition(double position) override;
  int setVelocity(double velocity) override;
  int getVelocity(double& velocity) override;
  int getPosition(double& position) override;
  int setEnable(bool enable) override;
  int getEnableState(bool& enabled) override;
  int setZeroPosition(int value) override;
  int getTorque(double& torque) override;

  /// One command: target position, speed, and the torque limit to push with.
  int setGripperStatus(double position, double speed, double torque);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
