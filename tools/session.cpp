#include "tools/session.h"

#include "tools/exit_codes.h"

namespace vorn_io::tool {

std::optional<double> Session::Await(std::chrono::milliseconds period, double timeout_seconds,
                                     const std::string& pending, const std::function<bool(double)>& poll) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const auto elapsed = [start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  while (signals_.Received() == 0) {
    if (poll(elapsed())) {
      return elapsed();
    }
    if (elapsed() >= timeout_seconds) {
      progress_.Done();
      fmt::print(stderr, "vorn-io: timed out after {:.1f} s, {}\n", elapsed(), pending);
      return std::nullopt;
    }
    signals_.WaitFor(period);
  }
  return std::nullopt;
}

int Session::Finish(int code) {
  progress_.Done();
  const int signal = signals_.Received();
  if (signal != 0) {
    progress_.Print(fmt::format("vorn-io: {} received, shutting the device down\n", StopSignalName(signal)));
  }
  // A signal from here on cannot stop anything sooner; it is told so.
  signals_.ShuttingDown();
  if (device_) {
    device_.reset();
    progress_.Print(fmt::format("vorn-io: {}\n", released_));
  }
  std::fflush(stdout);
  relay_.Stop();
  return signal != 0 ? ExitCodeOfSignal(signal) : code;
}

}  // namespace vorn_io::tool
