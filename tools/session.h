#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "tools/progress.h"
#include "tools/signals.h"
#include "tools/terminal.h"
#include "vorn_io/vorn_io_interface.h"

namespace vorn_io::tool {

/// One device driven from the command line, from its construction to its
/// destruction: the signals, the terminal, the poll loop and the exit code.
/// The device is always destroyed through `VornIoInterface` before the
/// process exits, so its motor is shut down whatever ends the run.
class Session {
 public:
  using Clock = std::chrono::steady_clock;

  /// What ends the poll loop.
  enum class End { kDone, kTimedOut, kSignal };

  /// Shows the move's progress if `show_progress`.
  explicit Session(bool show_progress);
  ~Session();

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  Session(Session&&) = delete;
  Session& operator=(Session&&) = delete;

  Progress& progress() { return progress_; }
  [[nodiscard]] int Signal() const { return signals_.Received(); }

  /// Takes the device over; `released` is printed once it has been destroyed.
  void Adopt(std::unique_ptr<VornIoInterface> device, std::string released);
  VornIoInterface& device() { return *device_; }

  /// Calls `poll` every `period` until it returns true, `timeout` has passed
  /// or a stop signal arrives.
  End PollUntil(std::chrono::milliseconds period, std::chrono::duration<double> timeout,
                const std::function<bool()>& poll);

  /// Destroys the device and returns `code`, or the exit code of a stop
  /// signal that arrived meanwhile.
  int Finish(int code);

 private:
  StopSignals signals_;
  TerminalRelay relay_;
  Progress progress_;
  std::unique_ptr<VornIoInterface> device_;
  std::string released_;
};

}  // namespace vorn_io::tool
