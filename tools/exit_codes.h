#pragma once

// What `vorn-io` tells its caller (a shell script, a CI job) through its exit
// status. Documented in --help and in README.md; scripts rely on the numbers.
namespace vorn_io::tool {

enum ExitCode : int {
  kDone = 0,           ///< the move ended, or the description checked clean
  kRefused = 1,        ///< the device refused the command, or `check` flagged something
  kBadConfig = 2,      ///< the file could not be read or the device could not be built from it
  kTimedOut = 3,       ///< the move did not end before the deadline; the device was shut down
  kInterrupted = 130,  ///< SIGINT: the device was shut down first
  kTerminated = 143,   ///< SIGTERM: the device was shut down first
};

}  // namespace vorn_io::tool
