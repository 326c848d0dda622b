#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include <fmt/format.h>

#include "tools/account_text.h"
#include "tools/exit_codes.h"
#include "tools/run.h"
#include "tools/session.h"
#include "vorn_io/lifter.h"

namespace vorn_io::tool {
namespace {

// Polls as often as a host's control loop would; the bar needs no more.
constexpr std::chrono::milliseconds kPollPeriod{50};
// Enough margin over the ramp's own length for a loaded, shared machine.
constexpr double kTimeoutFactor = 1.5;
constexpr double kTimeoutMarginSeconds = 5.0;

/// Says how a move that has ended went; returns its exit code.
int ReportEnd(const UpdownLifter::MoveOutcome& outcome, int to, int status, double elapsed) {
  if (outcome.abandoned) {
    fmt::print(
        stderr,
        "vorn-io: the move to {} was abandoned after {:.1f} s on a failing motor ({} failed calls); the lifter stopped "
        "between its states\n",
        to, elapsed, outcome.failedCalls);
    return kAbandoned;
  }
  fmt::print("vorn-io: lifter in state {} after {:.1f} s\n", status, elapsed);
  if (outcome.failedCalls > 0) {
    fmt::print(stderr, "vorn-io: {} motor calls failed during the move\n", outcome.failedCalls);
  }
  if (outcome.heldTicks > 0) {
    fmt::print(
        stderr,
        "vorn-io: the torque hold stopped the motor on {} ticks (an obstacle?); it may not have covered the travel\n",
        outcome.heldTicks);
    return kHeld;
  }
  return kDone;
}

}  // namespace

int RunLifter(const MoveRequest& request) {
  const DescriptionFile file = LoadDescription(request.file);
  const Selection target = Select(file, request.selector, Device::kLifter);
  const LifterReading reading = ReadLifterDescription(target.node);
  if (reading.account.HasError()) {
    return ReportErrors(file.name, reading.account);
  }
  PrintNotes(file.name, reading.account);

  Session session(request.show_progress);
  fmt::print("vorn-io: {} from {} ({})\n", LifterDevice(reading), file.name, target.where);
  // Owned by the session; kept to ask how the move ended.
  const UpdownLifter* built = nullptr;
  try {
    auto lifter = std::make_unique<UpdownLifter>(target.node);
    built = lifter.get();
    if (request.initial) {
      lifter->setInitialStatus(*request.initial);
    }
    session.Adopt(std::move(lifter), reading.motor.settings.vendor != MotorVendor::kNone ? "motor parked and disabled"
                                                                                         : "lifter released");
  } catch (const std::exception& error) {
    // The reading has reported every key the lifter cannot be built from;
    // this is the motor's own refusal.
    fmt::print(stderr, "vorn-io: {}: cannot build the lifter: {}\n", file.name, error.what());
    return session.Finish(kBadConfig);
  }
  if (session.Signal() != 0) {
    return session.Finish(kDone);
  }

  const int to = request.to.value_or(0);
  if (session.device().setIoStatus(to) != 0) {
    fmt::print(stderr, "vorn-io: the lifter refused the move to {} (its log line above says why)\n", to);
    return session.Finish(kRefused);
  }
  const Session::Clock::time_point start = Session::Clock::now();
  const double expected = MoveSeconds(reading);
  const double timeout = request.timeout_seconds.value_or(expected * kTimeoutFactor + kTimeoutMarginSeconds);
  int status = -1;
  const Session::End end = session.PollUntil(kPollPeriod, std::chrono::duration<double>(timeout), [&] {
    session.device().getIoStatus(status);
    if (status != -1) {
      return true;
    }
    const double elapsed = std::chrono::duration<double>(Session::Clock::now() - start).count();
    session.progress().Ramp(expected > 0 ? elapsed / expected : 0.0, expected - elapsed);
    return false;
  });
  const double elapsed = std::chrono::duration<double>(Session::Clock::now() - start).count();
  switch (end) {
    case Session::End::kDone:
      session.progress().RampDone();
      return session.Finish(ReportEnd(built->lastMove(), to, status, elapsed));
    case Session::End::kTimedOut:
      session.progress().Done();
      fmt::print(stderr, "vorn-io: timed out after {:.1f} s, the move to {} has not ended\n", elapsed, to);
      return session.Finish(kTimedOut);
    case Session::End::kSignal:
      break;
  }
  return session.Finish(kDone);
}

}  // namespace vorn_io::tool
