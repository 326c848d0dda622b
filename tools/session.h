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
#include "tools/signals.h"
#include "vorn_io/vorn_io_interface.h"

namespace vorn_io::tool {

/// One device driven from the command line, from its construction to its
/// destruction: the signals, the output, the poll loop and the exit code. The
/// device is always destroyed through `VornIoInterface` before anything says
/// how its run ended, so its motor is shut down whatever ends the run.
class Session {
 public:
  /// Shows the move's progress if `show_progress`, the library's lines if `library_lines`.
  explicit Session(bool show_progress, bool library_lines = true) : console_(show_progress, library_lines) {}

  Console& console() { return console_; }
  [[nodiscard]] int Signal() const { return signals_.Received(); }

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
  // Destroyed from the last: the device before the console and the signals.
  StopSignals signals_;
  Console console_;
  std::unique_ptr<VornIoInterface> device_;
  std::string released_;
};

}  // namespace vorn_io::tool
