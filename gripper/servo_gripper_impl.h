#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <yaml-cpp/yaml.h>

#include "common/trace_ring.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/park_outcome.h"
#include "vorn_motor/feetech_motor.h"

/// The gripper's parameters, its motor and its settle test, with the rules
/// that work on them. Internal to the library: hosts never see its layout,
/// so state may be added here without touching the ABI.
///
/// Hidden, unlike the class it is nested in: its members are no part of the
/// library's interface and must not reach the dynamic symbol table.
struct __attribute__((visibility("hidden"))) ServoGripper::Impl {
  static constexpr double kOpenTarget = -10.0;
  static constexpr double kCloseTarget = 10.0;
  static constexpr int kWindowSize = 20;

  /// The public operations of the same names.
  void InitServoGripper(int id, unsigned int baudrate, std::string& dev_name, bool inverse);
  int setGripperMotion(double target, double torque);
  int getGripperState(bool& finished);
  int function_get_para(YAML::Node& node);
  int function_get_para(std::string& path);
  int function_get_para(unsigned int id, std::string& path);

  /// A loading constructor's start-up: the motor from the loaded parameters,
  /// or, when they did not load, no motor at all.
  void StartFromParameters();
  /// Disables and deletes the motor held, if any (the shutdown), into `parkOutcome`.
  void ReleaseMotor() noexcept;
  /// Sends a motion to the motor held; -1 with an error line if it refuses.
  int SendMotion(double target, double torque);
  void StartSettleTest();
  /// The variance of the settle window's positions.
  double WindowVariance() const;
  /// Adds a poll's sample to the trace.
  void Record(double reading, bool settled);

  std::uint32_t id = 0;
  std::string dev_name;
  std::uint32_t baudrate = 115200;
  bool inverse = false;
  double p = 2.0;
  double i = 0.0;
  double d = 0.24;
  std::int32_t limit_low = -3400;
  std::int32_t limit_high = 3400;
  std::unique_ptr<feetechMotor> motor;
  double torque_low = 100.0;
  double torque_high = 100.0;
  double position = 0.0;
  std::int32_t windowWriteIndex = -1;
  std::int32_t windowCount = 0;
  std::array<double, kWindowSize> positionWindow{};
  std::int32_t pollCount = 0;
  bool readingFailureLogged = false;
  /// The polls since the last command, and when that command came.
  vorn_io::detail::TraceRing<vorn_io::GripperPoll> trace;
  std::chrono::steady_clock::time_point commandAt{};
  /// The last load of a parameter map went through to its end.
  bool parametersLoaded = false;
  /// The gripper was built from parameters that did not load: it has no
  /// motor, and refuses every command, until a host's `InitServoGripper`.
  bool loadFailed = false;
  /// How the last shutdown of a motor went.
  ParkOutcome parkOutcome;
};
