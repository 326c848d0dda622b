#include <chrono>
#include <cstdio>
#include <memory>

#include <fmt/format.h>

#include "tools/exit_codes.h"
#include "tools/explain.h"
#include "tools/run.h"
#include "tools/session.h"
#include "vorn_io/gripper/servo_gripper.h"

namespace vorn_io::tool {
namespace {

// The gripper judges its rest on its last 20 readings and never before the
// 401st poll after a command, so the poll rate sets how soon it can report.
constexpr std::chrono::milliseconds kPollPeriod{5};
// A full stroke of the real servo at the gripper's fixed speed takes about a minute.
constexpr double kDefaultTimeoutSeconds = 90.0;

std::string SectionList(const std::vector<Target>& targets) {
  std::string list;
  for (const Target& target : targets) {
    list += (list.empty() ? "" : ", ") + std::to_string(target.motor);
  }
  return list;
}

}  // namespace

int RunGripper(const MoveRequest& request) {
  const YAML::Node root = LoadYamlFile(request.file);
  const std::vector<Target> targets = SelectTargetsFor(Kind::kGripper, root, request.file, request.selector);
  if (targets.size() > 1) {
    throw ConfigError(fmt::format("{}: a motor file with the sections {}: choose one with --motor N", request.file,
                                  SectionList(targets)));
  }
  const Target& target = targets.front();
  const Explanation explanation = ExplainGripper(target.node);
  // The gripper's loader would log the error and build a motor from whatever
  // it had read by then; no motor is driven from a description it rejects.
  if (explanation.HasError()) {
    return ReportErrors(request.file, explanation);
  }
  PrintNotes(request.file, explanation);

  Session session(request.show_progress);
  fmt::print("vorn-io: gripper from {} ({})\n", request.file, target.where);
  try {
    // Built from the parameter map already read, whatever the layout: the
    // gripper's file loaders would read the path a second time, and a FIFO or
    // a process substitution has nothing left to give then.
    session.Adopt(std::make_unique<ServoGripper>(target.node), "gripper motor disabled and released");
  } catch (const std::exception& error) {
    fmt::print(stderr, "vorn-io: {}: cannot build the gripper: {}\n", request.file, error.what());
    return session.Finish(kBadConfig);
  }
  if (session.Signal() != 0) {
    return session.Finish(kDone);
  }
  if (request.to) {
    session.device().setIoStatus(*request.to);
  }

  const Session::Clock::time_point start = Session::Clock::now();
  long polls = 0;
  const double timeout = request.timeout_seconds.value_or(kDefaultTimeoutSeconds);
  const Session::End end = session.PollUntil(kPollPeriod, std::chrono::duration<double>(timeout), [&] {
    int status = 0;
    session.device().getIoStatus(status);
    ++polls;
    if (status == 1) {
      return true;
    }
    session.progress().Settling(polls, std::chrono::duration<double>(Session::Clock::now() - start).count());
    return false;
  });
  const double elapsed = std::chrono::duration<double>(Session::Clock::now() - start).count();
  switch (end) {
    case Session::End::kDone:
      session.progress().Done();
      fmt::print("vorn-io: gripper settled after {} polls, {:.1f} s\n", polls, elapsed);
      return session.Finish(kDone);
    case Session::End::kTimedOut:
      session.progress().Done();
      fmt::print(stderr, "vorn-io: timed out after {:.1f} s, the gripper has not settled\n", elapsed);
      return session.Finish(kTimedOut);
    case Session::End::kSignal:
      break;
  }
  return session.Finish(kDone);
}

}  // namespace vorn_io::tool
