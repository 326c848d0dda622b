// A stand-in for libvorn_motor built from the public motor headers alone: it
// prints every call it receives and answers with readings of its own, so a
// host program run against it shows which library is driving its devices.
#include <cstdio>
#include <string>

#include "vorn_motor/damiao_motor.h"
#include "vorn_motor/feetech_motor.h"
#include "vorn_motor/motor_interface.h"

namespace {

// Readings no simulated motor would give at rest.
constexpr double kTorque = 9.25;
constexpr double kPosition = 42.0;

void Say(const std::string& what) {
  std::printf("double: %s\n", what.c_str());
  std::fflush(stdout);
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Flag(bool value) { return value ? "true" : "false"; }

}  // namespace

MotorInterface::~MotorInterface() = default;

struct damiaoMotor::Impl {
  bool enabled = false;
};

// The declared signature takes the name by value.
damiaoMotor::damiaoMotor(int motor_model, unsigned int id, unsigned int mode, unsigned int master_id,
                         std::string dev_name,  // NOLINT(performance-unnecessary-value-param)
                         bool inverse, float kp, float kd)
    : impl_(std::make_unique<Impl>()) {
  Say("damiaoMotor(" + std::to_string(motor_model) + ", " + std::to_string(id) + ", " + std::to_string(mode) + ", " +
      std::to_string(master_id) + ", " + dev_name + ", " + Flag(inverse) + ", " + Number(static_cast<double>(kp)) +
      ", " + Number(static_cast<double>(kd)) + ")");
}

damiaoMotor::~damiaoMotor() { Say("~damiaoMotor()"); }

int damiaoMotor::initMotor() {
  Say("initMotor()");
  return 0;
}
int damiaoMotor::setPosition(double position) {
  Say("setPosition(" + Number(position) + ")");
  return 0;
}
int damiaoMotor::setVelocity(double velocity) {
  Say("setVelocity(" + Number(velocity) + ")");
  return 0;
}
int damiaoMotor::getVelocity(double& velocity) {
  velocity = 0.0;
  Say("getVelocity()");
  return 0;
}
int damiaoMotor::getPosition(double& position) {
  position = kPosition;
  Say("getPosition()");
  return 0;
}
int damiaoMotor::setEnable(bool enable) {
  impl_->enabled = enable;
  Say("setEnable(" + Flag(enable) + ")");
  return 0;
}
int damiaoMotor::getEnableState(bool& enabled) {
  enabled = impl_->enabled;
  Say("getEnableState()");
  return 0;
}
int damiaoMotor::setZeroPosition(int value) {
  Say("setZeroPosition(" + std::to_string(value) + ")");
  return 0;
}
int damiaoMotor::getTorque(double& torque) {
  torque = kTorque;
  Say("getTorque()");
  return 0;
}

struct feetechMotor::Impl {
  bool enabled = false;
};

feetechMotor::feetechMotor(unsigned int id, unsigned int baudrate, std::string& dev_name, bool inverse)
    : impl_(std::make_unique<Impl>()) {
  Say("feetechMotor(" + std::to_string(id) + ", " + std::to_string(baudrate) + ", " + dev_name + ", " + Flag(inverse) +
      ")");
}

feetechMotor::~feetechMotor() { Say("~feetechMotor()"); }

int feetechMotor::initMotor() {
  Say("initMotor()");
  return 0;
}
int feetechMotor::setPosition(double position) {
  Say("setPosition(" + Number(position) + ")");
  return 0;
}
int feetechMotor::setVelocity(double velocity) {
  Say("setVelocity(" + Number(velocity) + ")");
  return 0;
}
int feetechMotor::getVelocity(double& velocity) {
  velocity = 0.0;
  Say("getVelocity()");
  return 0;
}
int feetechMotor::getPosition(double& position) {
  position = kPosition;
  Say("getPosition()");
  return 0;
}
int feetechMotor::setEnable(bool enable) {
  impl_->enabled = enable;
  Say("setEnable(" + Flag(enable) + ")");
  return 0;
}
int feetechMotor::getEnableState(bool& enabled) {
  enabled = impl_->enabled;
  Say("getEnableState()");
  return 0;
}
int feetechMotor::setZeroPosition(int value) {
  Say("setZeroPosition(" + std::to_string(value) + ")");
  return 0;
}
int feetechMotor::getTorque(double& torque) {
  torque = kTorque;
  Say("getTorque()");
  return 0;
}
int feetechMotor::setGripperStatus(double position, double speed, double torque) {
  Say("setGripperStatus(" + Number(position) + ", " + Number(speed) + ", " + Number(torque) + ")");
  return 0;
}
