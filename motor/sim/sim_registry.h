#pragma once

#include <string>
#include <vector>

#include "vorn_motor_sim/sim_control.h"

namespace vorn_motor_sim::detail {

/// The script configured for `dev_name` (tests), else one from the environment.
MotorScript ScriptFor(const std::string& dev_name);

void Record(const std::string& dev_name, Call call);

void MotorCreated();
void MotorDestroyed();

}  // namespace vorn_motor_sim::detail
