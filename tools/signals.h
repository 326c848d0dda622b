#pragma once

#include <chrono>
#include <string>

namespace vorn_io::tool {

/// Turns the signals that ask a process to stop (SIGHUP, SIGINT, SIGQUIT,
/// SIGUSR1, SIGUSR2, SIGTERM) into something the poll loop can wait on.
///
/// The handler only records the signal and writes one byte into a pipe, so it
/// is async-signal-safe; the loop wakes at once, destroys the device (which
/// parks and disables the motor) and exits with 128 + the signal number.
/// A signal that was ignored when the tool started (`nohup`, a script's
/// `cmd &`) stays ignored: whoever started the tool asked for that.
/// A further signal while the device shuts down is absorbed the same way, and
/// says so on standard error, so an impatient Ctrl-C cannot leave a motor
/// enabled nor go unanswered.
class StopSignals {
 public:
  /// Installs the handlers; there is one instance per process.
  StopSignals();
  /// Restores the dispositions found at construction.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  /// The first signal received, or 0.
  [[nodiscard]] int Received() const;

  /// Sleeps for `timeout`, or less if a signal arrives (or has arrived).
  void WaitFor(std::chrono::milliseconds timeout) const;

  /// From now on the device is being shut down: every signal that arrives
  /// says so on standard error.
  void ShuttingDown();
};

/// "SIGHUP", "SIGINT", ... for the stop signals, "signal" for any other.
std::string StopSignalName(int number);

}  // namespace vorn_io::tool
