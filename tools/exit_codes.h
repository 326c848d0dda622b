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
  // A stop signal: the device was shut down first, then the tool exits with
  // 128 + the signal's number, as a shell reports a process the signal ended.
  kHangup = 129,       ///< SIGHUP
  kInterrupted = 130,  ///< SIGINT
  kQuit = 131,         ///< SIGQUIT
  kUser1 = 138,        ///< SIGUSR1
  kUser2 = 140,        ///< SIGUSR2
  kTerminated = 143,   ///< SIGTERM
};

/// The exit code after the stop signal `number`.
constexpr int ExitCodeOfSignal(int number) { return 128 + number; }

static_assert(kHangup == ExitCodeOfSignal(SIGHUP) && kInterrupted == ExitCodeOfSignal(SIGINT) &&
                  kQuit == ExitCodeOfSignal(SIGQUIT) && kUser1 == ExitCodeOfSignal(SIGUSR1) &&
                  kUser2 == ExitCodeOfSignal(SIGUSR2) && kTerminated == ExitCodeOfSignal(SIGTERM),
              "the documented exit codes are 128 + the signal numbers of this platform");

}  // namespace vorn_io::tool
