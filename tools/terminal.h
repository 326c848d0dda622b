#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/bounded_output.h"

namespace vorn_io::tool {

/// Writes `text` to `output` within the logger's stall bound; false if it
/// did not all go out.
bool WriteBounded(quorvane::detail::BoundedOutput& output, const std::string& text, bool wait);

/// Keeps a status line at the bottom of the terminal while the library logs.
///
/// The library writes its lines to standard output from its own threads, so a
/// progress bar drawn there would be torn by every log line. While active,
/// standard output goes into a pipe instead; a thread copies each complete
/// line to the terminal unchanged, wiping the status line first and drawing
/// it again below. Only used when standard output is a terminal.
///
/// The terminal is written within the logger's stall bound (a stopped or
/// unread terminal holds nobody): lines it does not take in time are dropped
/// whole, and once it takes text again one line says how many were lost.
class TerminalRelay {
 public:
  /// Starts relaying if `wanted` and standard output is a terminal that can
  /// draw a status line (TERM is not "dumb"); otherwise stays inactive.
  explicit TerminalRelay(bool wanted);
  ~TerminalRelay() { Stop(); }

  [[nodiscard]] bool Active() const { return terminal_fd_ >= 0; }

  /// The terminal's width in columns; 80 when it does not say.
  [[nodiscard]] int Width() const;

  /// Replaces the status line (cut to the terminal's width).
  void SetStatus(const std::string& line);

  /// Removes the status line from the screen.
  void ClearStatus();

  /// Copies what is still in the pipe, gives standard output back to the
  /// terminal and ends the thread. Idempotent.
  void Stop();

 private:
  void Pump();
  void Relay(const std::string& lines);
  /// After a loss nothing waits until the terminal takes text again.
  bool Send(const std::string& text) { return WriteBounded(*terminal_, text, dropped_lines_ == 0); }
  void DrawStatus();

  int terminal_fd_ = -1;
  int pipe_[2] = {-1, -1};  ///< standard output, while relaying
  int wake_[2] = {-1, -1};  ///< tells the pump to drain and stop
  std::unique_ptr<quorvane::detail::BoundedOutput> terminal_;
  long dropped_lines_ = 0;
  std::thread pump_;
  std::mutex mutex_;  // also keeps the relay from being copied or moved: the pump holds `this`
  std::string status_;
  bool status_drawn_ = false;
};

}  // namespace vorn_io::tool
