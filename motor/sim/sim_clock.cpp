#include "sim_clock.h"

#include <chrono>
#include <cmath>
#include <mutex>

#include "vorn_motor_sim/sim_control.h"

namespace vorn_motor_sim {
namespace {

using Steady = std::chrono::steady_clock;

// Real mode: simulated time = offset + time since `base`. Manual mode: `frozen`.
struct SimClock {
  std::mutex mutex;
  bool manual = false;
  double frozen = 0.0;
  double offset = 0.0;
  Steady::time_point base = Steady::now();

  [[nodiscard]] double RealNow() const { return offset + std::chrono::duration<double>(Steady::now() - base).count(); }
};

// Never destroyed, like the registry: motors may outlive static destruction.
SimClock& TheClock() {
  static auto* clock = new SimClock;
  return *clock;
}

}  // namespace

namespace detail {

double SimNow() {
  SimClock& clock = TheClock();
  const std::lock_guard<std::mutex> lock(clock.mutex);
  return clock.manual ? clock.frozen : clock.RealNow();
}

}  // namespace detail

void UseManualClock() {
  SimClock& clock = TheClock();
  const std::lock_guard<std::mutex> lock(clock.mutex);
  if (!clock.manual) {
    clock.frozen = clock.RealNow();
    clock.manual = true;
  }
}

void UseRealClock() {
  SimClock& clock = TheClock();
  const std::lock_guard<std::mutex> lock(clock.mutex);
  if (clock.manual) {
    clock.offset = clock.frozen;
    clock.base = Steady::now();
    clock.manual = false;
  }
}

void AdvanceClock(double seconds) {
  SimClock& clock = TheClock();
  const std::lock_guard<std::mutex> lock(clock.mutex);
  if (clock.manual && seconds > 0.0 && std::isfinite(seconds)) {
    clock.frozen += seconds;
  }
}

}  // namespace vorn_motor_sim
