#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "tools/console.h"
#include "vorn_io/vorn_io_interface.h"

namespace vorn_io::tool {

/// One device driven from the command line, from its construction to its
/// destruction: the stop signals, the output, the poll loop and the exit code.
///
/// For its life the session takes over the signals that ask a process to stop
/// (SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGTERM, and SIGTSTP: Ctrl-Z
/// must not leave a motor enabled in a stopped process), except those ignored
/// when the tool started (`nohup`, a script's `cmd &`). Their handler only
/// records the signal and wakes the loop through a pipe, so it writes nothing
/// that a stalled output could hold. The device is destroyed through
/// `VornIoInterface` before anything says how its run ended, so its motor is
/// shut down whatever ends the run. One session per process.
class Session {
 public:
  /// Shows the move's progress if `show_progress`, the library's lines if `library_lines`.
  explicit Session(bool show_progress, bool library_lines = true);
  /// Destroys the device, if still held, and restores the signals' dispositions.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Console& console() { return console_; }
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
      console_.Pump();
      return built;
    } catch (const std::exception& error) {
      console_.Warn(fmt::format("vorn-io: {}: cannot build the {}: {}\n", file, kind, error.what()));
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

 private:
  /// Sleeps for `timeout`, or less if a signal arrives; returns how many
  /// arrived since the last call.
  int Sleep(std::chrono::milliseconds timeout) const;

  Console console_;
  std::unique_ptr<VornIoInterface> device_;
  std::string released_;
};

}  // namespace vorn_io::tool
