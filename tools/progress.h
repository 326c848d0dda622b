#pragma once

#include <unistd.h>

#include <string>

#include "common/bounded_output.h"
#include "tools/terminal.h"

namespace vorn_io::tool {

/// Shows how a move is getting on.
///
/// On a terminal it draws a status line at the bottom (through the relay);
/// otherwise it prints plain lines, one per tenth of a ramp or per hundred
/// gripper polls, and never an escape sequence, so logs and CI output stay
/// readable. Its lines go to standard output within the logger's stall bound,
/// like the library's own: an output that does not take them holds nobody.
class Progress {
 public:
  /// Shows nothing unless `shown` (--quiet, --no-progress).
  Progress(TerminalRelay& relay, bool shown) : relay_(relay), shown_(shown) {}

  /// A ramp `fraction` done (0 to 1) with about `seconds_left` to go.
  void Ramp(double fraction, double seconds_left);

  /// A gripper still settling after `polls` polls and `seconds` seconds.
  void Settling(long polls, double seconds);

  /// Removes the status line before the final message.
  void Done() { relay_.ClearStatus(); }

  /// The end of a ramp: a full bar on the terminal, "progress 100%" otherwise.
  void RampDone();

  /// Writes one line of the tool's own to standard output, so that a stalled
  /// output cannot keep the tool from parking either.
  void Print(const std::string& line) { WriteBounded(stdout_, line, true); }

 private:
  TerminalRelay& relay_;
  bool shown_;
  quorvane::detail::BoundedOutput stdout_{STDOUT_FILENO};
  int printed_tenths_ = -1;
  long printed_polls_ = 0;
};

}  // namespace vorn_io::tool
