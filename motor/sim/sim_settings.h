#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "vorn_motor_sim/sim_control.h"

namespace vorn_motor_sim::detail {

enum class Vendor { kDamiao, kFeetech };

/// The simulation settings a host sets through the environment. Each is read
/// as VORN_MOTOR_SIM_<VENDOR>_<NAME> (VENDOR being DAMIAO or FEETECH), else
/// as VORN_MOTOR_SIM_<NAME>; a value that does not parse is reported on
/// standard error and left unset.
struct EnvironmentSettings {
  std::optional<double> obstacle;     // OBSTACLE: any finite number
  std::optional<double> max_speed;    // MAX_SPEED: greater than 0
  std::optional<double> noise;        // NOISE: 0 or more
  std::optional<std::uint64_t> seed;  // SEED: an unsigned integer
  // FAIL, THROW, HANG: a comma-separated list of operations whose calls
  // fail, throw or hang (as `Fault::kStalls`), each optionally followed by
  // "@N": its first N calls behave.
  std::vector<CallFault> faults;
};

EnvironmentSettings SettingsFromEnvironment(Vendor vendor);

}  // namespace vorn_motor_sim::detail
