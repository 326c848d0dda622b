#pragma once

#include <csignal>

// What `vorn-io` tells its caller (a shell script, a CI job) through its exit
// status; scripts rely on the numbers. The table is the one place that says
// what each code means: --help prints it, the enum takes its numbers from it,
// and a test holds README.md's table to it.
namespace vorn_io::tool {

struct ExitCodeMeaning {
  int code;
  const char* meaning;  ///< as --help prints it, continuation lines indented
};

inline constexpr ExitCodeMeaning kExitCodes[] = {
    {0, "done: the move ended, or the description checked clean"},
    {1, "refused by the device, or flagged by check"},
    {2,
     "bad configuration: the file cannot be read, describes another kind of device (see --as),\n"
     "       or the device cannot be built from it; or no motor-driver library can be loaded"},
    {3, "timed out: the move did not end in time (the device was shut down)"},
    {4,
     "resisted: the lifter's move ended, but met resistance at the torque limit (held, or pushed\n"
     "       through where the lifter does not hold)"},
    {5, "abandoned: the lifter gave the move up on a failing motor; it is in neither state"},
    {6,
     "motor may still be enabled: a motor call did not return (the motor library hangs), or the motor\n"
     "       did not confirm its disable; the line before the exit names the call"},
    {74, "standard output could not be written (closed, disk full); the device was shut down first"},
};

enum ExitCode : int {
  kDone = kExitCodes[0].code,
  kRefused = kExitCodes[1].code,
  kBadConfig = kExitCodes[2].code,
  kTimedOut = kExitCodes[3].code,
  kHeld = kExitCodes[4].code,
  kAbandoned = kExitCodes[5].code,
  kMayBeEnabled = kExitCodes[6].code,
  kOutputFailed = kExitCodes[7].code,  ///< EX_IOERR of sysexits.h
};

/// The stop signals' codes (128 + the number, as a shell reports a process that signal ended).
inline constexpr const char* kSignalExitCodes =
    "  129 SIGHUP, 130 SIGINT (Ctrl-C), 131 SIGQUIT, 138 SIGUSR1, 140 SIGUSR2, 143 SIGTERM,\n"
    "  148 SIGTSTP (Ctrl-Z): stopped by that signal (128 + its number); the device was shut down first.\n"
    "       A signal ignored when the tool started (nohup) stays ignored.\n";
constexpr int ExitCodeOfSignal(int number) { return 128 + number; }
static_assert(SIGHUP == 1 && SIGINT == 2 && SIGQUIT == 3 && SIGUSR1 == 10 && SIGUSR2 == 12 && SIGTERM == 15 &&
                  SIGTSTP == 20,
              "the documented exit codes are 128 + the signal numbers of this platform");

}  // namespace vorn_io::tool
