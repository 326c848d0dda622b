#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim_registry.h"
#include "sim_settings.h"
#include "vorn_motor_sim/sim_control.h"

namespace vorn_motor_sim::detail {

/// What a vendor class tells the model about the motor it stands for.
struct MotorTraits {
  Vendor vendor;
  bool inverse;
  /// Torque per position unit that the command reaches beyond an obstacle.
  double stiffness;
  /// The most torque the motor pushes with until a command says otherwise.
  double torque_limit;
};

/// The kinematic model and the call journal shared by both simulated motors.
///
/// The model lives on an axis whose frame is the motor's own at construction,
/// mirrored for an inverted motor. Enabled, the motor travels towards its
/// command at a bounded rate until an obstacle stops it; pushing against the
/// obstacle reads as torque, up to the motor's torque limit. Time comes from
/// the simulation clock and is taken up on every call.
class SimMotor {
 public:
  /// Records the constructor call (`args` without the device name) and
  /// throws `std::runtime_error` if the motor's script says so.
  SimMotor(const MotorTraits& traits, std::string dev_name, const std::vector<double>& args);
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

 private:
  enum class Mode { kPosition, kVelocity };

  void Advance();
  [[nodiscard]] double Confine(double axis_position) const;
  [[nodiscard]] double AxisTorque() const;
  double Noise();
  /// Runs one operation under the motor's lock: its scripted fault, if any,
  /// or `body`, which journals the call and returns its result.
  template <typename Body>
  int Run(const char* op, Body body);
  /// The fault this call of `op` is scripted to have, counting the call.
  std::optional<Fault> ScriptedFault(const char* op);
  void Record(const char* op, std::initializer_list<double> args, int result = 0);
  /// Journals a call refused because `initMotor` has not been called yet.
  int RefuseUninitialised(const char* op);

  std::mutex mutex_;
  const MotorTraits traits_;
  const char* const kind_;
  const std::string dev_name_;
  const std::shared_ptr<DeviceJournal> journal_;
  const MotorScript script_;
  const EnvironmentSettings environment_;
  const std::optional<double> obstacle_;  // on the axis
  const double max_speed_;
  const double noise_;
  const double direction_;  // motor frame = direction_ * (axis - zero_)
  const std::vector<CallFault> faults_;
  std::vector<std::size_t> fault_calls_;  // calls of each fault's operation so far
  std::mt19937_64 random_;

  std::size_t next_torque_ = 0;
  std::size_t next_position_ = 0;
  std::size_t disable_lag_left_ = 0;
  bool initialised_ = false;
  bool enabled_ = false;
  Mode mode_ = Mode::kPosition;
  double axis_ = 0.0;
  double zero_ = 0.0;
  double target_ = 0.0;        // position mode, on the axis
  double velocity_cmd_ = 0.0;  // velocity mode, on the axis
  double rate_;                // present bound of the travel speed
  double torque_limit_;
  double velocity_ = 0.0;  // on the axis, at the end of the last stretch of time
  double last_update_;
};

}  // namespace vorn_motor_sim::detail
