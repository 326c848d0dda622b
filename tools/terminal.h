#pragma once

#include <mutex>
#include <string>
#include <thread>

namespace vorn_io::tool {

/// Keeps a status line at the bottom of the terminal while the library logs.
///
/// The library writes its lines to standard output from its own threads, so a
/// progress bar drawn there would be torn by every log line. While active,
/// standard output goes into a pipe instead; a thread copies each complete
/// line to the terminal unchanged, wiping the status line first and drawing
/// it again below. Only used when standard output is a terminal.
class TerminalRelay {
 public:
  /// Starts relaying if standard output is a terminal; otherwise stays inactive.
  TerminalRelay();
  /// Stops relaying (see `Stop`).
  ~TerminalRelay();

  TerminalRelay(const TerminalRelay&) = delete;
  TerminalRelay& operator=(const TerminalRelay&) = delete;
  TerminalRelay(TerminalRelay&&) = delete;
  TerminalRelay& operator=(TerminalRelay&&) = delete;

  [[nodiscard]] bool Active() const { return terminal_fd_ >= 0; }

  /// Replaces the status line (cut to the terminal's width).
  void SetStatus(const std::string& line);

  /// Removes the status line from the screen.
  void ClearStatus();

  /// Copies what is still in the pipe, gives standard output back to the
  /// terminal and ends the thread. Idempotent.
  void Stop();

 private:
  void Pump();
  void WriteAll(const std::string& text) const;
  void DrawStatus();

  int terminal_fd_ = -1;
  int read_fd_ = -1;
  std::thread pump_;
  std::mutex mutex_;
  std::string status_;
  std::string pending_;
  bool status_drawn_ = false;
};

}  // namespace vorn_io::tool
