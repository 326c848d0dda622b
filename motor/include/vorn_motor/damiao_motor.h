#pragma once

#include <memory>
#include <string>

#include "vorn_motor/motor_interface.h"

/// A Damiao motor on a CAN bus.
class damiaoMotor : public MotorInterface {
 public:
  damiaoMotor(int motor_model, unsigned int id, unsigned int mode, unsigned int master_id, std::string dev_name,
              bool inverse, float kp, float kd);
  ~damiaoMotor() override;

  damiaoMotor(const damiaoMotor&) = delete;
  damiaoMotor& operator=(const damiaoMotor&) = delete;

  int initMotor() override;
  int setPosition(double position) override;
  int setVelocity(double velocity) override;
  int getVelocity(double& velocity) override;
  int getPosition(double& position) override;
  int setEnable(bool enable) override;
  int getEnableState(bool& enabled) override;
  int setZeroPosition(int value) override;
  int getTorque(double& torque) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
