#include <chrono>
#include <cstdio>
#include <string>

#include <fmt/format.h>

#include "tools/account_text.h"
#include "tools/commands.h"
#include "tools/exit_codes.h"
#include "tools/session.h"
#include "vorn_io/gripper/servo_gripper.h"

namespace vorn_io::tool {
namespace {

// The gripper judges its rest on its last 20 readings and never before the
// 401st poll after a command, so the poll rate sets how soon it can report.
constexpr std::chrono::milliseconds kPollPeriod{5};
// A full stroke of the real servo at the gripper's fixed speed takes about a minute.
constexpr double kDefaultTimeoutSeconds = 90.0;

}  // namespace

int RunGripper(const MoveRequest& request) {
  const DescriptionFile file = LoadDescription(request.file);
  const GripperDescription description =
      ReadGripperSelection(Select(file, request.selector, Device::kGripper), file.name);
  if (description.parts.size() > 1) {
    std::string list;
    for (const GripperPart& part : description.parts) {
      list += (list.empty() ? "" : ", ") + std::to_string(part.motor);
    }
    throw ConfigError(fmt::format("{}: a motor file with the sections {}: choose one with --motor N", file.name, list));
  }
  const GripperPart& part = description.parts.front();
  // The gripper's loader would log the error and build a motor from whatever
  // it had read by then; no motor is driven from a description it rejects.
  if (part.reading.account.HasError()) {
    return ReportErrors(file.name, part.reading.account);
  }
  DescriptionAccount noted = description.root;
  noted.keys.insert(noted.keys.end(), part.reading.account.keys.begin(), part.reading.account.keys.end());
  PrintNotes(file.name, noted);

  Session session(request.show_progress);
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
      session.Await(kPollPeriod, request.timeout_seconds.value_or(kDefaultTimeoutSeconds),
                    "the gripper has not settled", [&](double elapsed) {
                      int status = 0;
                      gripper->getIoStatus(status);
                      ++polls;
                      if (status != 1) {
                        session.progress().Settling(polls, elapsed);
                      }
                      return status == 1;
                    });
  if (!took) {
    return session.Finish(kTimedOut);  // or a signal's code
  }
  session.progress().Done();
  fmt::print("vorn-io: gripper settled after {} polls, {:.1f} s\n", polls, *took);
  return session.Finish(kDone);
}

}  // namespace vorn_io::tool
