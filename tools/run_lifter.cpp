#include <chrono>
#include <cstdio>

#include <fmt/format.h>

#include "tools/account_text.h"
#include "tools/commands.h"
#include "tools/exit_codes.h"
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
  // The reading has reported every key the lifter cannot be built from; what
  // is left is the motor's own refusal.
  UpdownLifter* lifter = session.Build<UpdownLifter>(
      file.name, "lifter",
      reading.motor.settings.vendor != MotorVendor::kNone ? "motor parked and disabled" : "lifter released",
      target.node);
  if (lifter == nullptr || session.Signal() != 0) {
    return session.Finish(kBadConfig);  // a signal's own code wins
  }
  if (request.initial) {
    lifter->setInitialStatus(*request.initial);
  }
  const int to = request.to.value_or(0);
  if (lifter->setIoStatus(to) != 0) {
    fmt::print(stderr, "vorn-io: the lifter refused the move to {} (its log line above says why)\n", to);
    return session.Finish(kRefused);
  }
  const double expected = MoveSeconds(reading);
  int status = -1;
  const std::optional<double> took =
      session.Await(kPollPeriod, request.timeout_seconds.value_or(expected * kTimeoutFactor + kTimeoutMarginSeconds),
                    fmt::format("the move to {} has not ended", to), [&](double elapsed) {
                      lifter->getIoStatus(status);
                      if (status == -1) {
                        session.progress().Ramp(expected > 0 ? elapsed / expected : 0.0, expected - elapsed);
                      }
                      return status != -1;
                    });
  if (!took) {
    return session.Finish(kTimedOut);  // or a signal's code
  }
  session.progress().RampDone();
  return session.Finish(ReportEnd(lifter->lastMove(), to, status, *took));
}

}  // namespace vorn_io::tool
