#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

/// Test-facing control of the simulated stand-in for libvorn_motor.
///
/// Motors are keyed by the device name they are constructed with. A script
/// set with `Configure` applies to every motor later created with that name;
/// `Journal` returns the calls those motors received, in order. Not part of
/// the installed package: robot programs never see it.
namespace vorn_motor_sim {

/// One call a simulated motor received.
struct Call {
  /// "damiaoMotor" / "feetechMotor" for the constructors, "~damiaoMotor" /
  /// "~feetechMotor" for the destructors, else the operation's own name.
  std::string op;
  /// The numeric arguments in order (bools as 0 or 1); for a getter, the
  /// value it wrote.
  std::vector<double> args;
  /// The device-name argument of a constructor; empty otherwise.
  std::string text;
  /// What the call returned.
  int result = 0;
};

/// Scripted behaviour for the motors created with one device name.
struct MotorScript {
  /// Successive `getTorque` readings; once used up, the model's own.
  std::vector<double> torques;
  /// Successive `getPosition` readings; once used up, the model's own.
  std::vector<double> positions;
  /// `getEnableState` returns -1 (the query failed).
  bool enableQueryFails = false;
  /// `getEnableState` keeps reporting enabled, even after `setEnable(false)`.
  bool neverDisables = false;
  /// The constructor throws `std::runtime_error`.
  bool constructorThrows = false;
  /// An obstacle at this position (in the frame at construction) blocks travel.
  std::optional<double> obstacle;
  /// Highest rate of travel, in position units per second; empty: the default.
  std::optional<double> maxSpeed;
};

void Configure(const std::string& dev_name, const MotorScript& script);

/// The calls of every motor created with `dev_name` since the last `Reset`.
std::vector<Call> Journal(const std::string& dev_name);

/// Only the calls named `op` from `Journal(dev_name)`.
std::vector<Call> Calls(const std::string& dev_name, const std::string& op);

/// The number of simulated motors alive now.
std::size_t LiveMotors();

/// Forgets every script and journal.
void Reset();

}  // namespace vorn_motor_sim
