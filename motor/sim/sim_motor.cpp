#include "sim_motor.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "sim_registry.h"

namespace vorn_motor_sim::detail {
namespace {

constexpr double kDefaultSpeed = 20.0;     // position units per second
constexpr double kStallTorque = 5.0;       // reading while pushing against an obstacle

}  // namespace

SimMotor::SimMotor(std::string kind, std::string dev_name)
    : kind_(std::move(kind)),
      dev_name_(std::move(dev_name)),
      script_(ScriptFor(dev_name_)),
      speed_(script_.maxSpeed.value_or(kDefaultSpeed)),
      last_update_(Clock::now()) {
  if (script_.constructorThrows) {
    throw std::runtime_error("simulated motor " + dev_name_ + ": constructor failure");
  }
  MotorCreated();
}

SimMotor::~SimMotor() {
  Record(("~" + kind_).c_str(), {});
  MotorDestroyed();
}

void SimMotor::RecordConstruction(std::vector<double> args) {
  Call call;
  call.op = kind_;
  call.args = std::move(args);
  call.text = dev_name_;
  detail::Record(dev_name_, std::move(call));
}

void SimMotor::Record(const char* op, std::vector<double> args, int result) {
  Call call;
  call.op = op;
  call.args = std::move(args);
  call.result = result;
  detail::Record(dev_name_, std::move(call));
}

void SimMotor::Advance() {
  const Clock::time_point now = Clock::now();
  const double dt = std::chrono::duration<double>(now - last_update_).count();
  last_update_ = now;
  velocity_ = 0.0;
  if (!enabled_ || dt <= 0.0) {
    return;
  }
  const double before = position_;
  const double reach = speed_ * dt;
  double next = position_ + std::clamp(target_ - position_, -reach, reach);
  if (script_.obstacle) {
    const double wall = *script_.obstacle;
    if ((before <= wall && next > wall) || (before >= wall && next < wall)) {
      next = wall;
    }
  }
  position_ = next;
  velocity_ = (position_ - before) / dt;
}

int SimMotor::initMotor() {
  const std::lock_guard<std::mutex> lock(mutex_);
  Record("initMotor", {});
  return 0;
}

int SimMotor::setPosition(double position) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  target_ = zero_ + position;
  push_torque_ = kStallTorque;
  Record("setPosition", {position});
  return 0;
}

int SimMotor::setVelocity(double velocity) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Record("setVelocity", {velocity});
  return 0;
}

int SimMotor::getVelocity(double& velocity) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  velocity = velocity_;
  Record("getVelocity", {velocity});
  return 0;
}

int SimMotor::getPosition(double& position) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  if (next_position_ < script_.positions.size()) {
    position = script_.positions[next_position_++];
  } else {
    position = position_ - zero_;
  }
  Record("getPosition", {position});
  return 0;
}

int SimMotor::setEnable(bool enable) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  enabled_ = enable;
  if (enable) {
    target_ = position_;
  }
  Record("setEnable", {enable ? 1.0 : 0.0});
  return 0;
}

int SimMotor::getEnableState(bool& enabled) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (script_.enableQueryFails) {
    Record("getEnableState", {}, -1);
    return -1;
  }
  enabled = enabled_ || script_.neverDisables;
  Record("getEnableState", {enabled ? 1.0 : 0.0});
  return 0;
}

int SimMotor::setZeroPosition(int value) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  zero_ = position_;
  Record("setZeroPosition", {static_cast<double>(value)});
  return 0;
}

int SimMotor::getTorque(double& torque) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  if (next_torque_ < script_.torques.size()) {
    torque = script_.torques[next_torque_++];
  } else {
    const bool blocked = enabled_ && script_.obstacle && position_ == *script_.obstacle &&
                         std::abs(target_ - position_) > 1e-9;
    torque = blocked ? std::copysign(push_torque_, target_ - position_) : 0.0;
  }
  Record("getTorque", {torque});
  return 0;
}

int SimMotor::setGripperStatus(double position, double speed, double torque) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Advance();
  target_ = zero_ + position;
  if (!script_.maxSpeed) {
    speed_ = speed;
  }
  push_torque_ = torque;
  Record("setGripperStatus", {position, speed, torque});
  return 0;
}

}  // namespace vorn_motor_sim::detail
