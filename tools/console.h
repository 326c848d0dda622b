#pragma once

#include <string>

#include "vorn_io/logger.h"

namespace vorn_io::tool {

/// Standard output of a move command: the library's log lines, the tool's
/// own lines and the move's progress, written by the poll loop alone.
///
/// The library's lines come from a listener (its console output is off for
/// the run), so the tool decides where they go: on a terminal the progress is
/// a status line at the bottom, wiped before other lines are written and drawn
/// again below them; elsewhere it is plain lines (one per tenth of a ramp, one
/// per hundred gripper polls) and never an escape sequence.
///
/// Every write is bounded by the logger's stall bound: text that standard
/// output (a stopped terminal, a pipe nobody reads) does not take in time is
/// dropped, and once it takes text again one line says how many lines were
/// lost. So a stalled output cannot keep the loop from answering a stop
/// signal, nor the library's ticks from running (the listener drops lines
/// rather than wait).
class Console {
 public:
  /// Shows the library's lines if `library_lines`, the progress if `show_progress`.
  Console(bool show_progress, bool library_lines);

  /// Writes the library's lines received so far; true if there were any.
  bool Pump();

  /// Writes one line of the tool's own (ending in "\n") after the library's.
  void Print(const std::string& line);

  /// A ramp `fraction` done (0 to 1) with about `seconds_left` to go.
  void Ramp(double fraction, double seconds_left);

  /// A gripper still settling after `polls` polls and `seconds` seconds.
  void Settling(long polls, double seconds);

  /// The end of a ramp: a full bar on the terminal, "progress 100%" otherwise.
  void RampDone();

  /// Removes the status line, before a line the tool prints otherwise.
  void ClearStatus() { Status({}); }

 private:
  void Status(const std::string& line);
  /// Writes `text`, holding `lines` lines, with the status line wiped before
  /// and drawn again after it.
  void Emit(std::string text, long lines);
  bool Write(const std::string& text);
  [[nodiscard]] int Width() const;

  // Room for the lines of a fast lifter's ticks between two polls.
  quorvane::LogListener listener_{1U << 14U};
  quorvane::LogLine line_;
  bool show_progress_;
  bool library_lines_;
  bool bar_;  ///< a terminal that can draw a status line
  std::string status_;
  bool status_drawn_ = false;
  bool cut_ = false;  ///< a write stopped midway: the next text starts a line of its own
  long dropped_ = 0;  ///< lines standard output did not take since it last took one
  int printed_tenths_ = -1;
  long printed_polls_ = 0;
};

}  // namespace vorn_io::tool
