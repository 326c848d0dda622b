#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <fmt/format.h>

#include "tools/commands.h"
#include "vorn_io/bounded_writer.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"
#include "vorn_io/park_outcome.h"
#include "vorn_io/vorn_io_interface.h"

namespace vorn_io::tool {

/// One device driven from the command line, from its construction to its
/// destruction: the stop signals, the output, the poll loop and the exit code.
/// The device is parked and destroyed before anything says how its run ended,
/// so its motor is shut down whatever ends the run. A device call that does
/// not return (a motor library that hangs) holds the tool no longer than its
/// bound: see `Bounded`.
///
/// The signals that ask a process to stop (SIGTSTP too: Ctrl-Z must not leave
/// a motor enabled in a stopped process) are taken over, but those ignored
/// when the tool started (`nohup`); their handler writes nothing. The loop
/// alone writes every line (the library's, from a listener; the tool's; the
/// progress: a status line on a terminal, plain lines elsewhere), each through
/// the library's bounded writer: text an output does not take within the
/// logger's stall bound is dropped, and counted in a line once standard output
/// takes text again. So a stalled output holds neither the answer to a stop
/// signal, nor the shutdown, nor the library's ticks.
class Session {
 public:
  /// `to_stderr`: the tool's own lines go to standard error, leaving standard output to a report (--json).
  Session(bool show_progress, bool library_lines, bool to_stderr = false);
  ~Session();  ///< destroys the device, if still held, and gives the signals back
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  [[nodiscard]] int Signal() const;  ///< the first stop signal received, or 0

  /// Builds the device, a `kind` ("lifter") described in `file`, from `args`.
  /// Null, said on standard error, when it cannot be built.
  template <typename T, typename... Args>
  T* Build(const std::string& file, const char* kind, Args&&... args) {
    try {
      device_ = std::make_unique<T>(std::forward<Args>(args)...);
      auto* built = static_cast<T*>(device_.get());
      kind_ = kind;
      park_ = [built] { return built->park(); };
      Pump();
      return built;
    } catch (const std::exception& error) {
      Warn(Line("{}: cannot build the {}: {}", file, kind, error.what()));
      return nullptr;
    }
  }

  /// Runs the device call `call` (named `what`) on a thread of its own and
  /// waits for its result, answering stop signals, `seconds` and `kStopGrace`
  /// at most, or, if `stoppable`, `kStopGrace` after a signal. Nothing when it
  /// has not returned: it is left to hang, the device is never touched again,
  /// and the run ends with kMayBeEnabled and a line that names the call.
  template <typename R>
  std::optional<R> Bounded(const std::string& what, double seconds, bool stoppable, std::function<R()> call) {
    auto result = std::make_shared<std::promise<R>>();
    std::future<R> returned = result->get_future();
    std::thread([call = std::move(call), result] { result->set_value(call()); }).detach();
    const auto start = std::chrono::steady_clock::now();
    const auto bound = std::chrono::duration<double>(std::max(seconds, 0.0)) + kStopGrace;
    for (auto waited = start - start; waited <= bound && !(stoppable && Signal() != 0 && waited > kStopGrace);
         waited = std::chrono::steady_clock::now() - start) {
      // A signal that came as the call returned is answered too.
      const bool done = returned.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
      if (Sleep(std::chrono::milliseconds(done ? 0 : 1)) > 0 && !stoppable) {
        Warn(Line("still shutting the device down (parking and disabling the motor); the tool exits when it is done"));
      }
      Pump();
      if (done) {
        return returned.get();
      }
    }
    hung_ = Line("{} has not returned after {:.1f} s (the motor library hangs); the motor may still be enabled", what,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return std::nullopt;
  }
  static constexpr std::chrono::seconds kStopGrace{1};

  /// Calls `poll` with the seconds since this call every `period` until it
  /// returns true, and returns those seconds; nothing on a stop signal, on a
  /// device call that did not return, or once `timeout_seconds` have passed.
  std::optional<double> Await(std::chrono::milliseconds period, double timeout_seconds,
                              const std::function<bool(double)>& poll);

  /// Parks and destroys the device, then says how that went and `out` on
  /// standard output and `err` on standard error (unless a stop signal ended
  /// the run). Returns a stop signal's exit code, kMayBeEnabled when the
  /// motor may still be enabled, kOutputFailed when `out` did not go out, or
  /// `code`.
  int Finish(int code, const std::string& out = {}, const std::string& err = {});
  std::function<void(int)> at_end;  ///< `Finish` calls it with the exit code, the device shut down but not destroyed

  /// Lines of the tool's own, after the library's; false if they did not go out whole. Progress does not `wait`
  /// for room after a loss.
  bool Say(const std::string& text, bool wait = true);
  void Ramp(const UpdownLifter::MoveProgress& progress, double move_seconds);
  void Settling(long polls, double seconds);
  void RampDone();  ///< a full bar on the terminal, "progress 100%" otherwise

 private:
  /// Sleeps for `timeout`, or less if a signal arrives; returns how many arrived since the last call.
  int Sleep(std::chrono::milliseconds timeout) const;
  bool Pump();                         ///< writes the library's lines received so far; true if there were any
  void Warn(const std::string& text);  ///< on standard error, the status line wiped first
  /// `bar` on a terminal, else `line` if `step` is past the last one printed.
  void Progress(long step, const std::string& bar, const std::string& line);
  void Status(const std::string& line);
  /// Writes `text` (`lines` lines) below the status line's wipe and above its redraw; waits for room only if
  /// `wait` or nothing was lost.
  bool Emit(std::string text, long lines, bool wait);
  bool Write(quorvane::BoundedWriter& output, const std::string& text, bool wait);

  quorvane::LogListener listener_{1U << 14U};  // room for a fast lifter's lines between two polls
  quorvane::LogLine line_;
  quorvane::BoundedWriter out_;
  quorvane::BoundedWriter err_{STDERR_FILENO};
  bool show_progress_;
  bool library_lines_;
  bool bar_;  ///< a terminal that can draw a status line
  std::string status_;
  bool status_drawn_ = false;
  long dropped_ = 0;     ///< lines standard output did not take since it last took one
  std::string failure_;  ///< why the last of the tool's lines that did not go out was lost
  long printed_ = -1;    ///< the last step (a tenth of a ramp, a hundred polls) printed as a line
  std::unique_ptr<VornIoInterface> device_;
  std::string kind_;
  std::function<ParkOutcome()> park_;
  std::string hung_;  ///< the line about a device call that did not return
};

}  // namespace vorn_io::tool
