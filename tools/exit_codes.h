#pragma once

#include <csignal>

// What `vorn-io` tells its caller (a shell script, a CI job) through its exit
// status. Documented in --help and in README.md; scripts rely on the numbers.
namespace vorn_io::tool {

enum ExitCode : int {
  kDone = 0,       ///< the move ended, or the description checked clean
  kRefused = 1,    ///< the device refused the command, or `check` flagged something
  kBadConfig = 2,  ///< the file could not be read, describes another kind of device, or the device could not be built
  kTimedOut = 3,   ///< the move did not end before the deadline; the device was shut down
  kHeld = 4,       ///< the lifter's move ended, but the torque hold stopped the motor on some ticks
  kAbandoned = 5,  ///< the lifter gave the move up on a failing motor; it is in neither state
  /// Standard output could not be written: EX_IOERR of sysexits.h, no outcome of the device.
  kOutputFailed = 74,
};

/// The exit code after the stop signal `number`, as a shell reports a process
/// that signal ended.
constexpr int ExitCodeOfSignal(int number) { return 128 + number; }

// --help documents the codes of the stop signals as numbers.
static_assert(SIGHUP == 1 && SIGINT == 2 && SIGQUIT == 3 && SIGUSR1 == 10 && SIGUSR2 == 12 && SIGTERM == 15,
              "the documented exit codes are 128 + the signal numbers of this platform");

}  // namespace vorn_io::tool
