#pragma once

#include <unistd.h>

#include <string>

#include "common/bounded_output.h"
#include "vorn_io/logger.h"

namespace vorn_io::tool {

/// Every line of a move command once it drives a device: the library's log
/// lines (from a listener: its console output is off for the run), the tool's
/// own lines and the move's progress, written by the poll loop alone.
///
/// On a terminal the progress is a status line at the bottom, wiped before
/// other lines and drawn again below them; elsewhere it is plain lines (one
/// per tenth of a ramp, one per hundred gripper polls), never an escape code.
///
/// Every write, to either output, goes through the library's bounded writer:
/// text an output (a stopped terminal, a pipe nobody reads) does not take
/// within the logger's stall bound is dropped, and once standard output takes
/// text again one line says how many lines were lost. So a stalled output
/// holds neither the answer to a stop signal, nor the shutdown, nor the ticks.
class Console {
 public:
  Console(bool show_progress, bool library_lines);

  /// Writes the library's lines received so far; true if there were any.
  bool Pump();
  /// Writes lines of the tool's own (ending in "\n") on standard output after
  /// the library's; false if they did not go out whole (see Failure).
  bool Say(const std::string& text) { return Print(text, true); }
  /// Writes lines of the tool's own on standard error, the status line wiped first.
  void Warn(const std::string& text);
  /// Why the last of the tool's lines that did not go out was lost.
  [[nodiscard]] const std::string& Failure() const { return failure_; }

  /// A ramp `fraction` done (0 to 1) with about `seconds_left` to go.
  void Ramp(double fraction, double seconds_left);
  /// A gripper still settling after `polls` polls and `seconds` seconds.
  void Settling(long polls, double seconds);
  /// The end of a ramp: a full bar on the terminal, "progress 100%" otherwise.
  void RampDone();
  /// Removes the status line.
  void ClearStatus() { Status({}); }

 private:
  /// The progress: `bar` as the status line on a terminal, else `line` if any.
  void Progress(const std::string& bar, const std::string& line);
  bool Print(const std::string& text, bool wait);
  void Status(const std::string& line);
  /// Writes `text`, holding `lines` lines, with the status line wiped before
  /// and drawn again after it. Waits for room only if `wait` or nothing was lost.
  bool Emit(std::string text, long lines, bool wait);
  bool Write(quorvane::detail::BoundedOutput& output, const std::string& text, bool wait);
  [[nodiscard]] int Width() const;

  // Room for the lines of a fast lifter's ticks between two polls.
  quorvane::LogListener listener_{1U << 14U};
  quorvane::LogLine line_;
  quorvane::detail::BoundedOutput out_{STDOUT_FILENO};
  quorvane::detail::BoundedOutput err_{STDERR_FILENO};
  bool show_progress_;
  bool library_lines_;
  bool bar_;  ///< a terminal that can draw a status line
  std::string status_;
  bool status_drawn_ = false;
  long dropped_ = 0;  ///< lines standard output did not take since it last took one
  std::string failure_;
  int printed_tenths_ = -1;
  long printed_polls_ = 0;
};

}  // namespace vorn_io::tool
