#include "tools/motor_driver.h"

#include <dlfcn.h>
#include <link.h>

namespace vorn_io::tool {

MotorDriver LoadedMotorDriver() {
  // The loader matches an object already loaded by its soname, however it was
  // found (NEEDED through a RUNPATH, the cache, or a preload by path), and
  // RTLD_NOLOAD never loads one that is not.
  void* handle = dlopen(kMotorDriverSoname, RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) {
    return {};
  }
  MotorDriver driver;
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
    driver.path = map->l_name;
  }
  driver.simulated = IsSimulation(handle);
  dlclose(handle);
  return driver;
}

bool IsSimulation(void* handle) { return dlsym(handle, kSimulationMarker) != nullptr; }

std::string DescribeMotorDriver(const MotorDriver& driver) {
  if (driver.path.empty()) {
    return std::string("motor-driver library: no ") + kMotorDriverSoname + " loaded";
  }
  return "motor-driver library: " + driver.path +
         (driver.simulated ? " (the simulation: no hardware moves)" : " (not the simulation)");
}

}  // namespace vorn_io::tool
