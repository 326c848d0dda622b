#pragma once

namespace vorn_motor_sim::detail {

/// Simulated seconds since the process started; never decreases. Follows the
/// monotonic clock unless a test has switched to manual time.
double SimNow();

}  // namespace vorn_motor_sim::detail
