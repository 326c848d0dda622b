#pragma once

#include <dlfcn.h>
#include <link.h>

#include <string>

// Which libvorn_motor.so.1 a process runs on. Shared by the launcher (which
// has not loaded libvorn_io) and the tool itself, so it needs neither.
namespace vorn_io::tool {

/// The soname of the vendor's motor-driver library, which the simulation carries too.
inline constexpr const char* kMotorDriverSoname = "libvorn_motor.so.1";

/// Whether the object behind a dlopen handle is the simulation, by a symbol
/// only the simulation defines (motor/sim/sim_notice.cpp).
inline bool IsSimulation(void* handle) { return dlsym(handle, "vorn_motor_simulation") != nullptr; }

struct MotorDriver {
  std::string path;  ///< as the loader resolved it; empty when none is loaded
  bool simulated = false;
};

/// The libvorn_motor.so.1 this process has loaded, if any, however the loader
/// found it (RTLD_NOLOAD matches by soname and never loads one).
inline MotorDriver LoadedMotorDriver() {
  MotorDriver driver;
  void* handle = dlopen(kMotorDriverSoname, RTLD_LAZY | RTLD_NOLOAD);
  link_map* map = nullptr;
  if (handle != nullptr) {
    driver.path =
        dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr ? map->l_name : "";
    driver.simulated = IsSimulation(handle);
    dlclose(handle);
  }
  return driver;
}

}  // namespace vorn_io::tool
