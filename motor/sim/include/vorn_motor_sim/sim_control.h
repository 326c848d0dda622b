#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

/// Test-facing control of the simulated stand-in for libvorn_motor.
///
/// Motors are keyed by the device name they are constructed with. A script
/// set with `Configure` applies to every motor later created with that name;
/// `Journal` returns the calls those motors received, in order. Not part of
/// the installed package: robot programs never see it. Every function here
/// may be called from any thread, also while motors are in use.
namespace vorn_motor_sim {

/// One call a simulated motor received.
struct Call {
  /// "damiaoMotor" / "feetechMotor" for the constructors, "~damiaoMotor" /
  /// "~feetechMotor" for the destructors, else the operation's own name.
  std::string op;
  /// The numeric arguments in order (bools as 0 or 1); for a getter, the
  /// value it wrote. The constructors record, without the device name:
  /// damiaoMotor {motor_model, id, mode, master_id, inverse, kp, kd},
  /// feetechMotor {id, baudrate, inverse}.
  std::vector<double> args;
  /// The device-name argument of a constructor; empty otherwise.
  std::string text;
  /// What the call returned; -1 for a constructor that threw and for a call
  /// a script made fail or throw (one that acted first records its result).
  int result = 0;
};

/// How a scripted call misbehaves.
enum class Fault {
  /// Returns -1 and does nothing; a getter leaves its output as it was.
  kFails,
  /// Throws `std::runtime_error` and does nothing.
  kThrows,
  /// Does what the call does, then throws `std::runtime_error`.
  kThrowsAfterActing,
  /// Hangs, as a motor library waiting on a dead bus does, until
  /// `ReleaseStalledCalls` (or `Reset`, or 30 s), then does what the call
  /// does. The motor stays locked meanwhile: its other calls wait too.
  /// `VORN_MOTOR_SIM_HANG` sets it from the environment.
  kStalls,
};

/// A fault of one operation of a motor: of its calls, the first `after`
/// behave, the next `count` misbehave, and those after them behave again.
/// Each call is journalled, a misbehaving one with the result -1.
struct CallFault {
  /// The operation's name, as the journal gives it ("getTorque", "setEnable", ...).
  std::string op;
  Fault fault = Fault::kFails;
  std::size_t after = 0;
  std::size_t count = std::numeric_limits<std::size_t>::max();
};

/// Scripted behaviour for the motors created with one device name. Fields
/// left empty take the motor's environment settings (motor/README.md), then
/// the simulation's defaults.
struct MotorScript {
  /// Successive `getTorque` readings, passed on as they are (NaN and
  /// infinities included); once used up, the model's own.
  std::vector<double> torques;
  /// Successive `getPosition` readings, likewise.
  std::vector<double> positions;
  /// Calls that fail or throw. A call that several entries name misbehaves
  /// as the first of them in effect says. Empty: the environment's.
  std::vector<CallFault> faults;
  /// `getEnableState` returns -1 (the query failed).
  bool enableQueryFails = false;
  /// `getEnableState` keeps reporting enabled, even after `setEnable(false)`.
  bool neverDisables = false;
  /// After `setEnable(false)`, this many `getEnableState` queries still
  /// report enabled before the motor says it is disabled.
  std::size_t disableLagQueries = 0;
  /// The constructor throws `std::runtime_error` (after recording the call).
  bool constructorThrows = false;
  /// An obstacle on the motor's axis, in the frame of `getPosition` at
  /// construction (mirrored for an inverted motor). It blocks travel beyond
  /// it as seen from the start: a value of 0 or more blocks travel above it,
  /// a negative value travel below it.
  std::optional<double> obstacle;
  /// Highest rate of travel, in position units per second; empty: the default.
  std::optional<double> maxSpeed;
  /// Amplitude of the noise on position readings: each reading is off by a
  /// uniformly distributed amount in [-noise, noise]. Empty: none.
  std::optional<double> noise;
  /// Seed of the noise; the same seed gives the same readings.
  std::optional<std::uint64_t> seed;
};

void Configure(const std::string& dev_name, const MotorScript& script);

/// The calls of every motor created with `dev_name` since the last `Reset`.
/// A journal keeps the latest 65536 calls of one device name; older
/// ones are dropped, so that a long-running host program stays bounded.
std::vector<Call> Journal(const std::string& dev_name);

/// Only the calls named `op` from `Journal(dev_name)`.
std::vector<Call> Calls(const std::string& dev_name, const std::string& op);

/// The number of simulated motors alive now.
std::size_t LiveMotors();

/// Forgets every script and journal, goes back to the real clock and
/// releases every stalled call. Motors alive keep the settings they were
/// created with.
void Reset();

/// Lets every call stalled by `Fault::kStalls` go on.
void ReleaseStalledCalls();

/// Simulated time. By default the models follow the monotonic clock. In
/// manual mode time stands still until `AdvanceClock` moves it on, so that a
/// test decides exactly how far a motor may have travelled. Switching keeps
/// the simulated time continuous.
void UseManualClock();
void UseRealClock();
/// Moves the manual clock on by `seconds` (ignored in real-clock mode, and
/// for a value that is not positive).
void AdvanceClock(double seconds);

}  // namespace vorn_motor_sim
