// `vorn-io lifter` and `vorn-io gripper`: build the device, command it, poll
// it to the end of its move, shut it down and say how the move went.
#include <fstream>

#include <nlohmann/json.hpp>

#include "tools/commands.h"
#include "tools/exit_codes.h"
#include "tools/session.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"

// --json's outcome: the fields of `MoveOutcome` under their own names.
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(UpdownLifter::MoveOutcome, reached, abandoned, heldTicks, failedCalls, unheldTicks,
                                   ticks, meanTickPeriod, greatestLateness, lateTicks, lastPosition, shortOfTravel,
                                   untracedTicks)

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

/// Whether a device can be built from `account`. If not, says why on standard
/// error; else prints each flagged key as a note there, so a person running a
/// move learns what `vorn-io check` would tell them.
bool Usable(const std::string& file, const DescriptionAccount& account) {
  const bool usable = !account.HasError();
  for (const KeyAccount& key : account.keys) {
    if (usable ? key.Flagged() : key.origin == KeyOrigin::kError) {
      Warn("{}{}: {}: {}", usable ? "note: " : "", file, Escaped(key.key), Escaped(key.detail));
    }
  }
  if (!usable) {
    Warn("{}: the device cannot be built from this description", file);
  } else if (account.FlaggedCount() > 0) {
    Warn("note: `vorn-io check {}` explains every key", file == FileName("-") ? "-" : file);
  }
  return usable;
}

/// At the end of the run, however it ends: writes the trace (`trace()`) to
/// --trace's file, and with --json prints `report` with the exit code and trace file.
template <typename Trace>
void ReportAtEnd(Session& session, const MoveRequest& request, Trace trace, std::function<nlohmann::json()> report) {
  session.at_end = [&request, trace = std::move(trace), report = std::move(report)](int code) {
    std::ofstream file;
    if (!request.trace_file.empty() && !(file.open(request.trace_file), WriteTraceCsv(file, trace()))) {
      Warn("cannot write the trace to {}: {}", request.trace_file, std::strerror(errno));  // NOLINT
    }
    if (request.json) {
      nlohmann::json out = report();
      out["exit_code"] = code;
      out["trace"] = request.trace_file.empty() ? nlohmann::json() : nlohmann::json(request.trace_file);
      fmt::print("{}\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
    }
  };
}

}  // namespace

int RunLifter(const MoveRequest& request) {
  const DescriptionFile file = LoadDescription(request.file);
  const Selection target = Select(file, request.selector, Device::kLifter);
  const LifterReading reading = ReadLifterDescription(target.node);
  if (!Usable(file.name, Noted(file, reading.account))) {
    return kBadConfig;
  }

  Session session(request.show_progress, request.library_lines, request.json);
  session.Say(Line("{} from {} ({})", LifterDevice(reading), file.name, target.where));
  // The reading has reported every key the lifter cannot be built from; what
  // is left is the motor's own refusal.
  UpdownLifter* lifter = session.Build<UpdownLifter>(file.name, "lifter", target.node);
  if (lifter == nullptr || session.Signal() != 0) {
    return session.Finish(kBadConfig);  // a signal's own code wins
  }
  ReportAtEnd(
      session, request, [lifter] { return lifter->lastMoveTrace(); },
      [lifter] {
        nlohmann::json out = lifter->lastMove();
        int state = -1;
        out["state"] = lifter->getIoStatus(state);
        return out;
      });
  if (request.initial) {
    lifter->setInitialStatus(*request.initial);
  }
  const int to = request.to.value_or(0);
  const double expected = MoveSeconds(reading);
  const double timeout = request.timeout_seconds.value_or(expected * kTimeoutFactor + kTimeoutMarginSeconds);
  // The move's zero is set in this thread, by a motor call that may hang.
  const auto command = [lifter, to] { return lifter->setIoStatus(to); };
  if (session.Bounded<int>("the lifter's setIoStatus", timeout, true, command).value_or(0) != 0) {
    return session.Finish(kRefused, {}, Line("the lifter refused the move to {} (its log line above says why)", to));
  }
  int status = -1;
  const std::optional<double> took = session.Await(kLifterPollPeriod, timeout, [&](double /*elapsed*/) {
    if (lifter->getIoStatus(status) == -1) {
      session.Ramp(lifter->moveProgress(), expected);
    }
    return status != -1;
  });
  if (!took) {
    return session.Finish(kTimedOut, {}, Line("timed out after {:.1f} s, the move to {} has not ended", timeout, to));
  }
  session.RampDone();
  const UpdownLifter::MoveOutcome outcome = lifter->lastMove();
  if (outcome.abandoned) {
    return session.Finish(kAbandoned, {},
                          Line("the move to {} was abandoned after {:.1f} s on a failing motor ({} "
                               "failed calls); the lifter stopped between its states",
                               to, *took, outcome.failedCalls));
  }
  std::string err = outcome.failedCalls == 0 ? "" : Line("{} motor calls failed during the move", outcome.failedCalls);
  if (outcome.heldTicks > 0) {
    err += Line("the torque hold stopped the motor on {} ticks (an obstacle?); it may not have covered the travel",
                outcome.heldTicks);
  }
  if (outcome.unheldTicks > 0) {
    err += Line(
        "warning: on {} ticks the torque reached the limit in the direction the lifter does not hold on, "
        "and the ramp pushed through (README: which way the lifter holds)",
        outcome.unheldTicks);
  }
  const bool resisted = outcome.heldTicks > 0 || outcome.unheldTicks > 0;
  return session.Finish(resisted ? kHeld : kDone, Line("lifter in state {} after {:.1f} s", status, *took), err);
}

int RunGripper(const MoveRequest& request) {
  const DescriptionFile file = LoadDescription(request.file);
  const GripperSelection gripper_file = ReadGripper(Select(file, request.selector, Device::kGripper), file.name);
  if (gripper_file.parts.size() > 1) {
    throw ConfigError(fmt::format("{}: a motor file with the sections {}: choose one with --motor N", file.name,
                                  fmt::join(gripper_file.motors, ", ")));
  }
  const GripperPart& part = gripper_file.parts.front();
  DescriptionAccount noted = Noted(file, gripper_file.root);
  noted.keys.insert(noted.keys.end(), part.reading.account.keys.begin(), part.reading.account.keys.end());
  // The gripper's loader would log the error and build a motor from whatever
  // it had read by then; no motor is driven from a description it rejects.
  if (!Usable(file.name, noted)) {
    return kBadConfig;
  }

  Session session(request.show_progress, request.library_lines, request.json);
  session.Say(Line("gripper from {} ({})", file.name, part.where));
  // Built from the parameter map already read, whatever the layout: the
  // gripper's file loaders would read the path a second time, and a FIFO or
  // a process substitution has nothing left to give then.
  ServoGripper* gripper = session.Build<ServoGripper>(file.name, "gripper", part.node);
  if (gripper == nullptr || session.Signal() != 0) {
    return session.Finish(kBadConfig);  // a signal's own code wins
  }
  ReportAtEnd(
      session, request, [gripper] { return gripper->lastMotionTrace(); },
      [gripper] {
        const std::vector<GripperPoll> polls = gripper->lastMotionTrace();
        return nlohmann::json{{"settled", !polls.empty() && polls.back().settled}, {"polls", polls.size()}};
      });
  // Its motor calls run in the calling thread, each bounded here.
  const double timeout = request.timeout_seconds.value_or(kGripperTimeoutSeconds);
  if (request.to && session.Bounded<int>("the gripper's setIoStatus", timeout, true,
                                         [gripper, to = *request.to] { return gripper->setIoStatus(to); })
                            .value_or(0) != 0) {
    return session.Finish(kRefused, {},
                          Line("the gripper refused the command {} (its log line above says why)", *request.to));
  }
  const auto read = [gripper] {
    int status = 0;
    gripper->getIoStatus(status);
    return status;
  };
  long polls = 0;
  const std::optional<double> took = session.Await(kGripperPollPeriod, timeout, [&](double elapsed) {
    const int status = session.Bounded<int>("the gripper's getIoStatus", timeout - elapsed, true, read)
                           .value_or(1);  // a call that hung ends the wait
    ++polls;
    if (status != 1) {
      session.Settling(polls, elapsed);
    }
    return status == 1;
  });
  if (!took) {
    return session.Finish(kTimedOut, {}, Line("timed out after {:.1f} s, the gripper has not settled", timeout));
  }
  return session.Finish(kDone, Line("gripper settled after {} polls, {:.1f} s", polls, *took));
}

}  // namespace vorn_io::tool
