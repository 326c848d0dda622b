#pragma once

#include <chrono>
#include <string>

namespace vorn_io::tool {

/// Turns the signals that ask a process to stop (SIGHUP, SIGINT, SIGQUIT,
/// SIGUSR1, SIGUSR2, SIGTERM, and SIGTSTP: Ctrl-Z must not leave a motor
/// enabled in a stopped process) into something the poll loop can wait on.
///
/// The handler only records the signal and writes one byte into a pipe, so it
/// is async-signal-safe and writes nothing a stalled output could hold; the
/// loop wakes at once, destroys the device and exits with 128 + the number.
/// A signal that was ignored when the tool started (`nohup`, a script's
/// `cmd &`) stays ignored: whoever started the tool asked for that.
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

  /// Sleeps for `timeout`, or less if a signal arrives; returns how many
  /// arrived since the last call.
  int WaitFor(std::chrono::milliseconds timeout) const;
};

/// "SIGHUP", "SIGINT", ... for the stop signals, "signal" for any other.
std::string StopSignalName(int number);

}  // namespace vorn_io::tool
