#pragma once

#include <optional>
#include <string>

#include "vorn_motor_sim/sim_control.h"

namespace vorn_motor_sim::detail {

/// The script a test configured for `dev_name`, if any.
std::optional<MotorScript> ConfiguredScript(const std::string& dev_name);

/// Appends `call` to the journal of `dev_name`.
void Record(const std::string& dev_name, Call call);

void MotorCreated();
void MotorDestroyed();

}  // namespace vorn_motor_sim::detail
