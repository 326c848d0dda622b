#pragma once

#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "common/bounded_output.h"
#include "vorn_io/logger.h"
#include "vorn_io/vorn_io_interface.h"

namespace vorn_io::tool {

/// One device driven from the command line, from its construction to its
/// destruction: the stop signals, the output, the poll loop and the exit code.
/// The device is destroyed through `VornIoInterface` before anything says how
/// its run ended, so its motor is shut down whatever ends the run.
///
/// For its life the session takes over the signals that ask a process to stop
/// (SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGTERM, and SIGTSTP: Ctrl-Z
/// must not leave a motor enabled in a stopped process), except those ignored
/// when the tool started (`nohup`, a script's `cmd &`). Their handler only
/// records the signal and wakes the loop, writing nothing an output could hold.
///
/// The poll loop alone writes every line: the library's (from a listener: its
/// console output is off for the run), the tool's and the progress. On a
/// terminal the progress is a status line at the bottom, wiped before other
/// lines and drawn again below them; elsewhere plain lines (one per tenth of a
/// ramp, one per hundred gripper polls), never an escape code. Every write, to
/// either output, goes through the library's bounded writer: text an output (a
/// stopped terminal, a pipe nobody reads) does not take within the logger's
/// stall bound is dropped, and once standard output takes text again one line
/// says how many lines were lost. So a stalled output holds neither the answer
/// to a stop signal, nor the shutdown, nor the library's ticks.
class Session {
 public:
  Session(bool show_progress, bool library_lines);
  ~Session();  ///< destroys the device, if still held, and gives the signals back
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  /// The first stop signal received, or 0.
  [[nodiscard]] int Signal() const;

  /// Builds the device, a `kind` ("lifter") described in `file`, from `args`;
  /// `released` is printed once it has been destroyed. Null when it cannot be
  /// built, which standard error is told.
  template <typename T, typename... Args>
  T* Build(const std::string& file, const char* kind, std::string released, Args&&... args) {
    try {
      auto device = std::make_unique<T>(std::forward<Args>(args)...);
      T* built = device.get();
      device_ = std::move(device);
      released_ = std::move(released);
      Pump();
      return built;
    } catch (const std::exception& error) {
      Warn(fmt::format("vorn-io: {}: cannot build the {}: {}\n", file, kind, error.what()));
      return nullptr;
    }
  }

  /// Calls `poll` with the seconds since this call every `period` until it
  /// returns true; returns those seconds then. Nothing when a stop signal
  /// arrives first, or `timeout_seconds` pass.
  std::optional<double> Await(std::chrono::milliseconds period, double timeout_seconds,
                              const std::function<bool(double)>& poll);

  /// Destroys the device, then writes `out` on standard output and `err` on
  /// standard error (unless a stop signal ended the run). Returns `code`, the
  /// exit code of a stop signal that arrived before, or kOutputFailed when
  /// what was to go to standard output did not.
  int Finish(int code, const std::string& out = {}, const std::string& err = {});

  /// Writes lines of the tool's own (ending in "\n") on standard output after
  /// the library's; false if they did not go out whole.
  bool Say(const std::string& text) { return Print(text, true); }
  /// A ramp `fraction` done (0 to 1) with about `seconds_left` to go.
  void Ramp(double fraction, double seconds_left);
  /// A gripper still settling after `polls` polls and `seconds` seconds.
  void Settling(long polls, double seconds);
  /// The end of a ramp: a full bar on the terminal, "progress 100%" otherwise.
  void RampDone();

 private:
  /// Sleeps for `timeout`, or less if a signal arrives; returns how many arrived since the last call.
  int Sleep(std::chrono::milliseconds timeout) const;
  /// Writes the library's lines received so far; true if there were any.
  bool Pump();
  /// Writes lines of the tool's own on standard error, the status line wiped first.
  void Warn(const std::string& text);
  bool Print(const std::string& text, bool wait);
  /// The progress: `bar` as the status line on a terminal, else `line` if any.
  void Progress(const std::string& bar, const std::string& line);
  void Status(const std::string& line);
  /// Writes `text`, holding `lines` lines, with the status line wiped before
  /// and drawn again after it. Waits for room only if `wait` or nothing was lost.
  bool Emit(std::string text, long lines, bool wait);
  bool Write(quorvane::detail::BoundedOutput& output, const std::string& text, bool wait);

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
  long dropped_ = 0;     ///< lines standard output did not take since it last took one
  std::string failure_;  ///< why the last of the tool's lines that did not go out was lost
  int printed_tenths_ = -1;
  long printed_polls_ = 0;
  std::unique_ptr<VornIoInterface> device_;
  std::string released_;
};

}  // namespace vorn_io::tool
