#include "sim_notice.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

// Defined by this library alone, never by a vendor's driver: a program asks
// the loaded libvorn_motor.so.1 for it (dlsym) to learn whether its motors
// are simulated, whatever the file is called and wherever it lies.
extern "C" const char vorn_motor_simulation[] = "libvorn_motor.so.1: simulated motors";

namespace vorn_motor_sim::detail {

void AnnounceSimulation() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* quiet = std::getenv("VORN_MOTOR_SIM_QUIET");  // NOLINT(concurrency-mt-unsafe)
    if (quiet != nullptr && std::strcmp(quiet, "1") == 0) {
      return;
    }
    Dl_info info{};
    const bool located = dladdr(static_cast<const void*>(vorn_motor_simulation), &info) != 0 &&
                         info.dli_fname != nullptr && info.dli_fname[0] != '\0';
    std::fprintf(stderr,
                 "vorn_motor: %s is the simulation of libvorn_motor.so.1: these motors are simulated, no hardware "
                 "moves (VORN_MOTOR_SIM_QUIET=1 hides this line)\n",
                 located ? info.dli_fname : "libvorn_motor.so.1");
  });
}

}  // namespace vorn_motor_sim::detail
