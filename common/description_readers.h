#pragma once

#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "vorn_io/description.h"

// What the description readers share with one another. Internal to the library.
namespace vorn_io::detail {

/// Reads the motor keys of a map; keys named in `already_accounted` (the
/// lifter's own, which it reads from the same map) are read but not
/// accounted for a second time. Keys no motor reads are not looked at.
MotorReading ReadMotorKeys(const YAML::Node& node, const std::vector<std::string>& already_accounted);

/// Every key a motor reads, "vendor" included.
std::vector<std::string> MotorKeyNames();

}  // namespace vorn_io::detail
