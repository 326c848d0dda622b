// `vorn-io lifter` and `vorn-io gripper`: build the device, command it, poll
// it to the end of its move and shut it down.
#include <chrono>
#include <cstdio>
#include <string>

#include <fmt/format.h>

#include "tools/commands.h"
#include "tools/exit_codes.h"
#include "tools/session.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"

namespace vorn_io::tool {
namespace {

// Polls as often as a host's control loop would; the bar needs no more.
constexpr std::chrono::milliseconds kLifterPollPeriod{50};
// Enough margin over the ramp's own length for a loaded, shared machine.
constexpr double kTimeoutFactor = 1.5;
constexpr double kTimeoutMarginSeconds = 5.0;
// The gripper judges its rest on its last 20 readings and never before the
// 401st poll after a command, so the poll rate sets how soon it can report.
constexpr std::chrono::milliseconds kGripperPollPeriod{5};
// A full stroke of the real servo at the gripper's fixed speed takes about a minute.
constexpr double kGripperTimeoutSeconds = 90.0;

/// Says how a lifter's move that has ended went; returns its exit code.
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

std::optional<double> Session::Await(std::chrono::milliseconds period, double timeout_seconds,
                                     const std::string& pending, const std::function<bool(double)>& poll) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const auto elapsed = [start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  while (signals_.Received() == 0) {
    if (poll(elapsed())) {
      console_.Pump();
      return elapsed();
    }
    if (elapsed() >= timeout_seconds) {
      console_.Pump();
      console_.ClearStatus();
      fmt::print(stderr, "vorn-io: timed out after {:.1f} s, {}\n", elapsed(), pending);
      return std::nullopt;
    }
    signals_.WaitFor(period);
  }
  return std::nullopt;
}

int Session::Finish(int code) {
  console_.ClearStatus();
  const int signal = signals_.Received();
  if (signal != 0) {
    console_.Print(fmt::format("vorn-io: {} received, shutting the device down\n", StopSignalName(signal)));
  }
  // A signal from here on cannot stop anything sooner; it is told so.
  signals_.ShuttingDown();
  if (device_) {
    device_.reset();
    console_.Print(fmt::format("vorn-io: {}\n", released_));
  }
  console_.Pump();
  std::fflush(stdout);
  return signal != 0 ? ExitCodeOfSignal(signal) : code;
}

int RunLifter(const MoveRequest& request) {
  const DescriptionFile file = LoadDescription(request.file);
  const Selection target = Select(file, request.selector, Device::kLifter);
  const LifterReading reading = ReadLifterDescription(target.node);
  if (reading.account.HasError()) {
    return ReportErrors(file.name, reading.account);
  }
  PrintNotes(file.name, reading.account);

  Session session(request.show_progress, request.library_lines);
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
    session.console().Pump();
    fmt::print(stderr, "vorn-io: the lifter refused the move to {} (its log line above says why)\n", to);
    return session.Finish(kRefused);
  }
  const double expected = MoveSeconds(reading);
  int status = -1;
  const std::optional<double> took = session.Await(
      kLifterPollPeriod, request.timeout_seconds.value_or(expected * kTimeoutFactor + kTimeoutMarginSeconds),
      fmt::format("the move to {} has not ended", to), [&](double elapsed) {
        lifter->getIoStatus(status);
        if (status == -1) {
          session.console().Ramp(expected > 0 ? elapsed / expected : 0.0, expected - elapsed);
        }
        return status != -1;
      });
  if (!took) {
    return session.Finish(kTimedOut);  // or a signal's code
  }
  session.console().RampDone();
  return session.Finish(ReportEnd(lifter->lastMove(), to, status, *took));
}

int RunGripper(const MoveRequest& request) {
  const DescriptionFile file = LoadDescription(request.file);
  const GripperSelection gripper_file = ReadGripper(Select(file, request.selector, Device::kGripper), file.name);
  if (gripper_file.parts.size() > 1) {
    throw ConfigError(fmt::format("{}: a motor file with the sections {}: choose one with --motor N", file.name,
                                  fmt::join(gripper_file.motors, ", ")));
  }
  const GripperPart& part = gripper_file.parts.front();
  // The gripper's loader would log the error and build a motor from whatever
  // it had read by then; no motor is driven from a description it rejects.
  if (part.reading.account.HasError()) {
    return ReportErrors(file.name, part.reading.account);
  }
  DescriptionAccount noted = gripper_file.root;
  noted.keys.insert(noted.keys.end(), part.reading.account.keys.begin(), part.reading.account.keys.end());
  PrintNotes(file.name, noted);

  Session session(request.show_progress, request.library_lines);
  fmt::print("vorn-io: gripper from {} ({})\n", file.name, part.where);
  // Built from the parameter map already read, whatever the layout: the
  // gripper's file loaders would read the path a second time, and a FIFO or
  // a process substitution has nothing left to give then.
  ServoGripper* gripper =
      session.Build<ServoGripper>(file.name, "gripper", "gripper motor disabled and released", part.node);
  if (gripper == nullptr || session.Signal() != 0) {
    return session.Finish(kBadConfig);  // a signal's own code wins
  }
  if (request.to) {
    gripper->setIoStatus(*request.to);
  }
  long polls = 0;
  const std::optional<double> took =
      session.Await(kGripperPollPeriod, request.timeout_seconds.value_or(kGripperTimeoutSeconds),
                    "the gripper has not settled", [&](double elapsed) {
                      int status = 0;
                      gripper->getIoStatus(status);
                      ++polls;
                      if (status != 1) {
                        session.console().Settling(polls, elapsed);
                      }
                      return status == 1;
                    });
  if (!took) {
    return session.Finish(kTimedOut);  // or a signal's code
  }
  session.console().ClearStatus();
  fmt::print("vorn-io: gripper settled after {} polls, {:.1f} s\n", polls, *took);
  return session.Finish(kDone);
}

}  // namespace vorn_io::tool
