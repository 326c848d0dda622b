#include "tools/session.h"

#include <cstdio>
#include <utility>

#include <fmt/format.h>

#include "tools/exit_codes.h"

namespace vorn_io::tool {

Session::Session(bool show_progress) : relay_(show_progress), progress_(relay_, show_progress) {}

Session::~Session() {
  device_.reset();
  relay_.Stop();
}

void Session::Adopt(std::unique_ptr<VornIoInterface> device, std::string released) {
  device_ = std::move(device);
  released_ = std::move(released);
}

Session::End Session::PollUntil(std::chrono::milliseconds period, std::chrono::duration<double> timeout,
                                const std::function<bool()>& poll) {
  const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
  for (;;) {
    if (signals_.Received() != 0) {
      return End::kSignal;
    }
    if (poll()) {
      return End::kDone;
    }
    if (Clock::now() >= deadline) {
      return End::kTimedOut;
    }
    signals_.WaitFor(period);
  }
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
