#pragma once

#include <string>

// Which libvorn_motor.so.1 a process runs on. Shared by the launcher (which
// has not loaded libvorn_io) and the tool itself, so it needs neither.
namespace vorn_io::tool {

/// The soname of the vendor's motor-driver library, which the simulation carries too.
inline constexpr const char* kMotorDriverSoname = "libvorn_motor.so.1";
/// A symbol that only the simulation defines (motor/sim/sim_notice.cpp).
inline constexpr const char* kSimulationMarker = "vorn_motor_simulation";

struct MotorDriver {
  std::string path;  ///< as the loader resolved it; empty when none is loaded
  bool simulated = false;
};

/// The libvorn_motor.so.1 this process has loaded, if any.
MotorDriver LoadedMotorDriver();

/// Whether the object behind a dlopen handle is the simulation, by its marker.
bool IsSimulation(void* handle);

/// The line `vorn-io version` prints about the driver.
std::string DescribeMotorDriver(const MotorDriver& driver);

}  // namespace vorn_io::tool
