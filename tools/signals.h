#pragma once

#include <chrono>

namespace vorn_io::tool {

/// Turns SIGINT and SIGTERM into something the poll loop can wait on.
///
/// The handler only records the signal and writes one byte into a pipe, so it
/// is async-signal-safe; the loop wakes at once, destroys the device (which
/// parks and disables the motor) and exits with 128 + the signal number.
/// A second signal while the device shuts down is absorbed the same way, so
/// an impatient Ctrl-C cannot leave a motor enabled.
class StopSignals {
 public:
  /// Installs the handlers; there is one instance per process.
  StopSignals();
  /// Restores the default handlers.
  ~StopSignals();

  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  StopSignals(StopSignals&&) = delete;
  StopSignals& operator=(StopSignals&&) = delete;

  /// The first signal received, or 0.
  [[nodiscard]] int Received() const;

  /// Sleeps for `timeout`, or less if a signal arrives (or has arrived).
  void WaitFor(std::chrono::milliseconds timeout) const;
};

}  // namespace vorn_io::tool
