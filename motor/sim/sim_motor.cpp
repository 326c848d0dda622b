#include "sim_motor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "sim_clock.h"
#include "sim_registry.h"

namespace vorn_motor_sim::detail {
namespace {

// Travel speeds in position units per second: a lifter ramping faster than
// this visibly lags; the gripper's own speed command stays well below its.
constexpr double kDamiaoMaxSpeed = 5.0;
constexpr double kFeetechMaxSpeed = 4.0;
// Share of the torque limit that running at full speed reads as (friction
// and load), well below any hold threshold.
constexpr double kRunningTorqueShare = 0.1;
constexpr std::uint64_t kDefaultSeed = 1;

MotorScript ScriptOf(const std::string& dev_name) { return ConfiguredScript(dev_name).value_or(MotorScript{}); }

template <typename T>
std::optional<T> FirstOf(const std::optional<T>& scripted, const std::optional<T>& environment) {
  return scripted ? scripted : environment;
}

}  // namespace

SimMotor::SimMotor(const MotorTraits& traits, std::string dev_name, const std::vector<double>& args)
    : traits_(traits),
      kind_(traits.vendor == Vendor::kDamiao ? "damiaoMotor" : "feetechMotor"),
      dev_name_(std::move(dev_name)),
      journal_(JournalOf(dev_name_)),
      script_(ScriptOf(dev_name_)),
      environment_(SettingsFromEnvironment(traits.vendor)),
      obstacle_(FirstOf(script_.obstacle, environment_.obstacle)),
      max_speed_(FirstOf(script_.maxSpeed, environment_.max_speed)
                     .value_or(traits.vendor == Vendor::kDamiao ? kDamiaoMaxSpeed : kFeetechMaxSpeed)),
      noise_(FirstOf(script_.noise, environment_.noise).value_or(0.0)),
      direction_(traits.inverse ? -1.0 : 1.0),
      faults_(script_.faults.empty() ? environment_.faults : script_.faults),
      fault_calls_(faults_.size(), 0),
      random_(FirstOf(script_.seed, environment_.seed).value_or(kDefaultSeed)),
      rate_(max_speed_),
      torque_limit_(traits.torque_limit),
      last_update_(SimNow()) {
  RecordConstructor(*journal_, kind_, args, script_.constructorThrows ? -1 : 0);
  if (script_.constructorThrows) {
    throw std::runtime_error("simulated " + std::string(kind_) + " \"" + dev_name_ +
                             "\": constructor failure (scripted)");
  }
  MotorCreated();
}

SimMotor::~SimMotor() {
  Record(traits_.vendor == Vendor::kDamiao ? "~damiaoMotor" : "~feetechMotor", {});
  MotorDestroyed();
}

void SimMotor::Record(const char* op, std::initializer_list<double> args, int result) {
  detail::Record(*journal_, op, args, result);
}

std::optional<Fault> SimMotor::ScriptedFault(const char* op) {
  std::optional<Fault> fault;
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    if (faults_[i].op != op) {
      continue;
    }
    const std::size_t call = fault_calls_[i]++;
    if (!fault && call >= faults_[i].after && call - faults_[i].after < faults_[i].count) {
      fault = faults_[i].fault;
    }
  }
  return fault;
}

template <typename Body>
int SimMotor::Run(const char* op, Body body) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<Fault> fault = ScriptedFault(op);
  if (fault == Fault::kStalls) {
    // The motor stays locked, as a driver stuck on its bus would stay.
    WaitUntilReleased();
    fault.reset();
  }
  if (fault && *fault != Fault::kThrowsAfterActing) {
    Record(op, {}, -1);
    if (*fault == Fault::kFails) {
      return -1;
    }
  } else {
    const int result = body();
    if (!fault) {
      return result;
    }
  }
  throw std::runtime_error("simulated " + std::string(kind_) + " \"" + dev_name_ + "\": " + op + " failure (scripted)");
}

int SimMotor::RefuseUninitialised(const char* op) {
  Record(op, {}, -1);
  return -1;
}

double SimMotor::Confine(double axis_position) const {
  if (!obstacle_) {
    return axis_position;
  }
  // The motor starts at 0, so the obstacle blocks the side away from 0.
  return *obstacle_ >= 0.0 ? std::min(axis_position, *obstacle_) : std::max(axis_position, *obstacle_);
}

void SimMotor::Advance() {
  const double now = SimNow();
  const double dt = now - last_update_;
  if (!(dt > 0.0)) {
    return;
  }
  last_update_ = now;
  if (!initialised_ || !enabled_ || !(torque_limit_ > 0.0)) {
    velocity_ = 0.0;
    return;
  }
  // The velocity kept is the one at the end of the stretch: zero once the
  // motor has arrived or run into the obstacle.
  double next = axis_;
  if (mode_ == Mode::kVelocity) {
    next += velocity_cmd_ * dt;
    velocity_ = velocity_cmd_;
  } else {
    const double reach = rate_ * dt;
    const double wanted = target_ - axis_;
    next += std::clamp(wanted, -reach, reach);
    velocity_ = std::abs(wanted) > reach ? std::copysign(rate_, wanted) : 0.0;
  }
  const double confined = Confine(next);
  if (confined != next) {
    velocity_ = 0.0;
  }
  axis_ = confined;
}

double SimMotor::AxisTorque() const {
  if (!initialised_ || !enabled_) {
    return 0.0;
  }
  if (obstacle_ && axis_ == *obstacle_) {
    const double wanted = mode_ == Mode::kVelocity ? velocity_cmd_ : target_ - axis_;
    const bool into_obstacle = *obstacle_ >= 0.0 ? wanted > 0.0 : wanted < 0.0;
    if (into_obstacle) {
      // A position command beyond the obstacle winds the controller up like
      // a spring, up to the torque limit; a velocity command pushes fully.
      const double push =
          mode_ == Mode::kVelocity ? torque_limit_ : std::min(torque_limit_, traits_.stiffness * std::abs(wanted));
      return std::copysign(push, wanted);
    }
  }
  return rate_ > 0.0 ? kRunningTorqueShare * torque_limit_ * velocity_ / rate_ : 0.0;
}

double SimMotor::Noise() {
  if (!(noise_ > 0.0)) {
    return 0.0;
  }
  // From the generator's raw bits, so that a seed gives the same readings
  // with any standard library.
  const double unit = static_cast<double>(random_() >> 11U) * 0x1.0p-53;
  return noise_ * (2.0 * unit - 1.0);
}

int SimMotor::initMotor() {
  return Run("initMotor", [&] {
    Advance();
    initialised_ = true;
    Record("initMotor", {});
    return 0;
  });
}

int SimMotor::setPosition(double position) {
  return Run("setPosition", [&] {
    if (!initialised_) {
      return RefuseUninitialised("setPosition");
    }
    if (!std::isfinite(position)) {
      Record("setPosition", {position}, -1);
      return -1;
    }
    Advance();
    mode_ = Mode::kPosition;
    target_ = zero_ + direction_ * position;
    rate_ = max_speed_;
    Record("setPosition", {position});
    return 0;
  });
}

int SimMotor::setVelocity(double velocity) {
  return Run("setVelocity", [&] {
    if (!initialised_) {
      return RefuseUninitialised("setVelocity");
    }
    if (!std::isfinite(velocity)) {
      Record("setVelocity", {velocity}, -1);
      return -1;
    }
    Advance();
    mode_ = Mode::kVelocity;
    velocity_cmd_ = direction_ * std::clamp(velocity, -max_speed_, max_speed_);
    rate_ = max_speed_;
    Record("setVelocity", {velocity});
    return 0;
  });
}

int SimMotor::getVelocity(double& velocity) {
  return Run("getVelocity", [&] {
    if (!initialised_) {
      return RefuseUninitialised("getVelocity");
    }
    Advance();
    velocity = direction_ * velocity_;
    Record("getVelocity", {velocity});
    return 0;
  });
}

int SimMotor::getPosition(double& position) {
  return Run("getPosition", [&] {
    if (!initialised_) {
      return RefuseUninitialised("getPosition");
    }
    Advance();
    if (next_position_ < script_.positions.size()) {
      position = script_.positions[next_position_++];
    } else {
      position = direction_ * (axis_ - zero_) + Noise();
    }
    Record("getPosition", {position});
    return 0;
  });
}

int SimMotor::setEnable(bool enable) {
  return Run("setEnable", [&] {
    if (!initialised_) {
      return RefuseUninitialised("setEnable");
    }
    Advance();
    if (enable && !enabled_) {
      // An enabled motor holds where it stands until it is told otherwise.
      mode_ = Mode::kPosition;
      target_ = axis_;
    }
    if (!enable) {
      velocity_ = 0.0;
      disable_lag_left_ = script_.disableLagQueries;
    }
    enabled_ = enable;
    Record("setEnable", {enable ? 1.0 : 0.0});
    return 0;
  });
}

int SimMotor::getEnableState(bool& enabled) {
  return Run("getEnableState", [&] {
    if (!initialised_) {
      return RefuseUninitialised("getEnableState");
    }
    if (script_.enableQueryFails) {
      Record("getEnableState", {}, -1);
      return -1;
    }
    bool lagging = false;
    if (!enabled_ && disable_lag_left_ > 0) {
      --disable_lag_left_;
      lagging = true;
    }
    enabled = enabled_ || lagging || script_.neverDisables;
    Record("getEnableState", {enabled ? 1.0 : 0.0});
    return 0;
  });
}

int SimMotor::setZeroPosition(int value) {
  return Run("setZeroPosition", [&] {
    if (!initialised_) {
      return RefuseUninitialised("setZeroPosition");
    }
    Advance();
    // `value` selects the vendor's zeroing procedure; the model has only one.
    zero_ = axis_;
    Record("setZeroPosition", {static_cast<double>(value)});
    return 0;
  });
}

int SimMotor::getTorque(double& torque) {
  return Run("getTorque", [&] {
    if (!initialised_) {
      return RefuseUninitialised("getTorque");
    }
    Advance();
    if (next_torque_ < script_.torques.size()) {
      torque = script_.torques[next_torque_++];
    } else {
      torque = direction_ * AxisTorque();
    }
    Record("getTorque", {torque});
    return 0;
  });
}

int SimMotor::setGripperStatus(double position, double speed, double torque) {
  return Run("setGripperStatus", [&] {
    if (!initialised_) {
      return RefuseUninitialised("setGripperStatus");
    }
    if (!std::isfinite(position)) {
      Record("setGripperStatus", {position, speed, torque}, -1);
      return -1;
    }
    Advance();
    mode_ = Mode::kPosition;
    target_ = zero_ + direction_ * position;
    // Like the servo, a speed of 0 (or nonsense) means "as fast as it goes".
    rate_ = speed > 0.0 && std::isfinite(speed) ? std::min(speed, max_speed_) : max_speed_;
    // A limit of 0 or less leaves the servo limp where it stands.
    torque_limit_ = torque > 0.0 ? std::min(torque, std::numeric_limits<double>::max()) : 0.0;
    Record("setGripperStatus", {position, speed, torque});
    return 0;
  });
}

}  // namespace vorn_motor_sim::detail
