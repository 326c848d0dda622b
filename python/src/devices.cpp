#include "src/devices.h"

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <pybind11/stl.h>
#include <yaml-cpp/yaml.h>

#include "src/device_handle.h"
#include "src/errors.h"
#include "src/log_bridge.h"
#include "vorn_io/description.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"
#include "vorn_io/trace.h"
#include "vorn_io/virtual_gripper.h"

namespace py = pybind11;

namespace vorn_io::python {
namespace {

using Clock = std::chrono::steady_clock;
using LifterHandle = DeviceHandle<UpdownLifter>;
using GripperHandle = DeviceHandle<ServoGripper>;
using VirtualHandle = DeviceHandle<VirtualGripper>;

// A lifter's poll is one atomic load; polling often ends `move` close to the
// end of the ramp, whose ticks are 1 ms apart at the fastest.
constexpr std::chrono::milliseconds kLifterPollPeriod{5};
// Each gripper poll is one position reading of its settle test, which counts
// from the 401st poll after a command on: the poll rate sets how soon it can
// report rest.
constexpr std::chrono::milliseconds kGripperPollPeriod{5};
// How often a wait in the main thread lets Python run its signal handlers,
// so that Ctrl-C ends it.
constexpr std::chrono::milliseconds kSignalCheckPeriod{50};
// Lines a command may log; more than any command does.
constexpr std::size_t kCommandLines = 64;

/// The warnings and errors the library logs while a command runs, which say
/// why a device refused it.
class CommandLines {
 public:
  std::string Take() {
    std::string text;
    quorvane::LogLine line;
    while (listener_.Next(line)) {
      if (line.level >= spdlog::level::warn && line.dropped == 0) {
        text += text.empty() ? "" : "; ";
        text += MessageText(line);
      }
    }
    return text;
  }

 private:
  quorvane::LogListener listener_{kCommandLines};
};

/// Runs a device command; one that does not return 0 raises RefusedError
/// with `what` and the reason the library logged meanwhile.
template <typename Command>
void RunCommand(const std::string& what, Command command) {
  CommandLines lines;
  if (command() != 0) {
    const std::string reason = lines.Take();
    throw RefusedError(reason.empty() ? what + " (the library logged no reason at its present level)"
                                      : what + ": " + reason);
  }
}

void CheckSignals() {
  const py::gil_scoped_acquire locked;
  if (PyErr_CheckSignals() != 0) {
    throw py::error_already_set();
  }
}

enum class WaitEnd { kDone, kTimedOut, kClosed };

/// Calls `poll` every `period` until it returns true, the time is up or the
/// device is being closed. Called without the interpreter's lock.
template <typename Device, typename Poll>
WaitEnd WaitUntil(const DeviceHandle<Device>& handle, std::optional<double> timeout_s, bool interruptible,
                  std::chrono::milliseconds period, Poll poll, double& seconds) {
  const Clock::time_point start = Clock::now();
  Clock::time_point checked = start;
  for (;;) {
    const bool done = poll();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (done) {
      return WaitEnd::kDone;
    }
    if (handle.Closing()) {
      return WaitEnd::kClosed;
    }
    if (timeout_s && seconds >= *timeout_s) {
      return WaitEnd::kTimedOut;
    }
    std::this_thread::sleep_for(period);
    if (interruptible && Clock::now() - checked >= kSignalCheckPeriod) {
      checked = Clock::now();
      CheckSignals();
    }
  }
}

using OutcomeTuple = std::tuple<bool, bool, unsigned int, unsigned int, unsigned int, unsigned long long, double,
                                double, unsigned long long, double, double, unsigned long long>;

OutcomeTuple TupleOf(const UpdownLifter::MoveOutcome& outcome) {
  return {outcome.reached,     outcome.abandoned,    outcome.heldTicks,      outcome.failedCalls,
          outcome.unheldTicks, outcome.ticks,        outcome.meanTickPeriod, outcome.greatestLateness,
          outcome.lateTicks,   outcome.lastPosition, outcome.shortOfTravel,  outcome.untracedTicks};
}

std::string FirstError(const std::string& name, const DescriptionAccount& account) {
  for (const KeyAccount& key : account.keys) {
    if (key.origin == KeyOrigin::kError) {
      const std::string where =
          key.position ? fmt::format("{}:{}:{}", name, key.position->line, key.position->column) : name;
      return fmt::format("{}: {}: {}", where, key.key, key.detail);
    }
  }
  return name + ": the description cannot be read";
}

std::unique_ptr<LifterHandle> MakeLifter(const YAML::Node& node, const std::string& name) {
  const py::gil_scoped_release unlocked;
  const std::optional<KindEvidence> told = TellDescriptionKind(node);
  if (told && told->kind != DescriptionKind::kLifter) {
    throw DescriptionError(
        fmt::format("{}: looks like a {} ({}), not a lifter description", name, KindName(told->kind), told->evidence));
  }
  try {
    return std::make_unique<LifterHandle>(std::make_unique<UpdownLifter>(node), "lifter");
  } catch (const YAML::Exception&) {
    const LifterReading reading = ReadLifterDescription(node);
    throw DescriptionError(FirstError(name, reading.account), reading.account);
  } catch (const std::exception& error) {
    throw MotorError(fmt::format("{}: the motor library failed: {}", name, error.what()));
  }
}

std::unique_ptr<GripperHandle> MakeGripper(const YAML::Node& node, std::optional<unsigned int> motor,
                                           const std::string& name, const std::string& where) {
  const py::gil_scoped_release unlocked;
  const std::optional<KindEvidence> told = TellDescriptionKind(node);
  if (told && told->kind == DescriptionKind::kLifter) {
    throw DescriptionError(
        fmt::format("{}: looks like a lifter description ({}), not a gripper one", name, told->evidence));
  }
  const DescriptionKind kind = motor ? DescriptionKind::kMotorFile : told ? told->kind : DescriptionKind::kParameterMap;
  const GripperSelection selection = ReadGripperSelection(node, kind, where, motor);
  if (selection.parts.empty()) {
    throw DescriptionError(
        fmt::format("{}: no section {} (motor sections: {})", name, MotorSectionKey(motor.value_or(0)),
                    selection.motors.empty() ? "none" : fmt::format("{}", fmt::join(selection.motors, ", "))));
  }
  if (selection.parts.size() > 1) {
    throw DescriptionError(fmt::format("{}: a motor file with the sections {}: choose one with motor=N", name,
                                       fmt::join(selection.motors, ", ")));
  }
  const GripperPart& part = selection.parts.front();
  // The gripper's loader would log the error and build a motor from what it
  // had read by then: no motor is driven from a description it rejects.
  if (part.reading.account.HasError()) {
    throw DescriptionError(FirstError(name, part.reading.account), part.reading.account);
  }
  try {
    return std::make_unique<GripperHandle>(std::make_unique<ServoGripper>(part.node), "gripper");
  } catch (const std::exception& error) {
    throw MotorError(fmt::format("{}: the motor library failed: {}", name, error.what()));
  }
}

/// `Lifter.move`: commands the move and waits for its end. Returns the
/// outcome and whether the lifter moved at all (not when it already was in
/// that state).
std::tuple<OutcomeTuple, bool> LifterMove(LifterHandle& handle, int to, std::optional<double> timeout_s,
                                          bool interruptible) {
  const py::gil_scoped_release unlocked;
  const LifterHandle::Use lifter(handle);
  int before = -1;
  lifter->getIoStatus(before);
  RunCommand(fmt::format("the lifter refused the move to {}", to), [&] { return lifter->setIoStatus(to); });
  bool seen_moving = false;
  double seconds = 0.0;
  const WaitEnd end = WaitUntil(
      handle, timeout_s, interruptible, kLifterPollPeriod,
      [&] {
        int status = -1;
        lifter->getIoStatus(status);
        seen_moving = seen_moving || status == -1;
        return status != -1;
      },
      seconds);
  if (end == WaitEnd::kClosed) {
    throw ClosedError(fmt::format("the lifter was closed during the move to {}", to));
  }
  if (end == WaitEnd::kTimedOut) {
    throw MoveTimeoutError(
        fmt::format("the move to {} has not ended after {:.1f} s; the lifter is still moving", to, seconds));
  }
  // Accepted without a move only when it already was in that state.
  const bool moved = seen_moving || before != to;
  UpdownLifter::MoveOutcome outcome = lifter->lastMove();
  if (!moved) {
    outcome = UpdownLifter::MoveOutcome{};
    outcome.reached = true;
  }
  return {TupleOf(outcome), moved};
}

/// `ServoGripper.move`: commands the motion and polls until it has come to
/// rest. Returns the polls it took and the seconds.
std::tuple<long, double> GripperMove(GripperHandle& handle, int to, std::optional<double> timeout_s,
                                     bool interruptible) {
  const py::gil_scoped_release unlocked;
  const GripperHandle::Use gripper(handle);
  RunCommand(fmt::format("the gripper refused the motion to {}", to), [&] {
    const std::lock_guard<std::mutex> one_call(handle.Calls());
    return gripper->setIoStatus(to);
  });
  long polls = 0;
  double seconds = 0.0;
  const WaitEnd end = WaitUntil(
      handle, timeout_s, interruptible, kGripperPollPeriod,
      [&] {
        const std::lock_guard<std::mutex> one_call(handle.Calls());
        int status = 0;
        gripper->getIoStatus(status);
        ++polls;
        return status == 1;
      },
      seconds);
  if (end == WaitEnd::kClosed) {
    throw ClosedError(fmt::format("the gripper was closed during the motion to {}", to));
  }
  if (end == WaitEnd::kTimedOut) {
    throw MoveTimeoutError(fmt::format("the gripper has not settled after {:.1f} s ({} polls)", seconds, polls));
  }
  return {polls, seconds};
}

/// The names of the calls a tick's `failedCalls` bits say failed, as the
/// trace files write them.
py::tuple FailedCallNames(std::uint8_t bits) {
  static constexpr std::pair<std::uint8_t, const char*> kCalls[] = {{LifterTick::kGetTorqueFailed, "getTorque"},
                                                                   {LifterTick::kGetPositionFailed, "getPosition"},
                                                                   {LifterTick::kSetPositionFailed, "setPosition"}};
  py::list names;
  for (const auto& [bit, name] : kCalls) {
    if ((bits & bit) != 0) {
      names.append(name);
    }
  }
  return py::tuple(names);
}

/// `Lifter.trace`: each tick as (seconds, lateness, set_position, position,
/// torque, sent, held, unheld, failed call names, torque limit). The copy is
/// taken without the interpreter's lock; it never waits for a motor call.
py::list LifterTrace(LifterHandle& handle) {
  std::vector<LifterTick> ticks;
  {
    const py::gil_scoped_release unlocked;
    const LifterHandle::Use lifter(handle);
    ticks = lifter->lastMoveTrace();
  }
  py::list rows;
  for (const LifterTick& tick : ticks) {
    rows.append(py::make_tuple(tick.seconds, tick.lateness, tick.setPosition, tick.position, tick.torque, tick.sent,
                               tick.held, tick.unheld, FailedCallNames(tick.failedCalls),
                               static_cast<double>(tick.torqueLimit)));
  }
  return rows;
}

/// `ServoGripper.trace`: each poll as (seconds, position, variance, settled).
py::list GripperTrace(GripperHandle& handle) {
  std::vector<GripperPoll> polls;
  {
    const py::gil_scoped_release unlocked;
    const GripperHandle::Use gripper(handle);
    const std::lock_guard<std::mutex> one_call(handle.Calls());
    polls = gripper->lastMotionTrace();
  }
  py::list rows;
  for (const GripperPoll& poll : polls) {
    rows.append(py::make_tuple(poll.seconds, poll.position, poll.variance, poll.settled));
  }
  return rows;
}

/// `close()`: the shutdown's outcome as (had_motor, finished, held,
/// disable_taken, disable_confirmed, failed_calls, hung_call), or None.
template <typename Handle>
py::object Close(Handle& handle) {
  std::optional<ParkOutcome> outcome;
  {
    const py::gil_scoped_release unlocked;
    outcome = handle.Close();
  }
  if (!outcome) {
    return py::none();
  }
  return py::make_tuple(outcome->hadMotor, outcome->finished, outcome->held, outcome->disableTaken,
                        outcome->disableConfirmed, outcome->failedCalls,
                        outcome->hungCall != nullptr ? py::object(py::str(outcome->hungCall)) : py::none());
}

}  // namespace

void BindDevices(py::module_& module) {
  py::class_<LifterHandle>(module, "Lifter", "An UpdownLifter; see vorn_io.Lifter.")
      .def(py::init(&MakeLifter), py::arg("node"), py::arg("name"))
      .def("move", &LifterMove, py::arg("to"), py::arg("timeout"), py::arg("interruptible"))
      .def(
          "set_io_status",
          [](LifterHandle& handle, int status) {
            const LifterHandle::Use lifter(handle);
            return lifter->setIoStatus(status);
          },
          py::arg("status"), py::call_guard<py::gil_scoped_release>())
      // Lock-free in the lifter: no reason to let go of the interpreter.
      .def_property_readonly("status",
                             [](LifterHandle& handle) {
                               const LifterHandle::Use lifter(handle);
                               int status = 0;
                               return lifter->getIoStatus(status);
                             })
      .def_property_readonly("last_move",
                             [](LifterHandle& handle) {
                               const LifterHandle::Use lifter(handle);
                               return TupleOf(lifter->lastMove());
                             })
      .def_property_readonly("trace", &LifterTrace)
      .def(
          "set_initial_status",
          [](LifterHandle& handle, int status) {
            const LifterHandle::Use lifter(handle);
            lifter->setInitialStatus(status);
          },
          py::arg("status"))
      .def("close", &Close<LifterHandle>)
      .def_property_readonly("closed", &LifterHandle::Closing);

  py::class_<GripperHandle>(module, "ServoGripper", "A ServoGripper; see vorn_io.ServoGripper.")
      .def(py::init(&MakeGripper), py::arg("node"), py::arg("motor"), py::arg("name"), py::arg("where"))
      .def("move", &GripperMove, py::arg("to"), py::arg("timeout"), py::arg("interruptible"))
      .def(
          "set_io_status",
          [](GripperHandle& handle, int status) {
            const GripperHandle::Use gripper(handle);
            const std::lock_guard<std::mutex> one_call(handle.Calls());
            return gripper->setIoStatus(status);
          },
          py::arg("status"), py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("status",
                             [](GripperHandle& handle) {
                               const py::gil_scoped_release unlocked;
                               const GripperHandle::Use gripper(handle);
                               const std::lock_guard<std::mutex> one_call(handle.Calls());
                               int status = 0;
                               gripper->getIoStatus(status);
                               return status;
                             })
      .def(
          "set_motion",
          [](GripperHandle& handle, double target, double torque) {
            const GripperHandle::Use gripper(handle);
            const std::lock_guard<std::mutex> one_call(handle.Calls());
            return gripper->setGripperMotion(target, torque);
          },
          py::arg("target"), py::arg("torque"), py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("trace", &GripperTrace)
      .def("close", &Close<GripperHandle>)
      .def_property_readonly("closed", &GripperHandle::Closing);

  py::class_<VirtualHandle>(module, "VirtualGripper", "A VirtualGripper; see vorn_io.VirtualGripper.")
      .def(py::init(
          [] { return std::make_unique<VirtualHandle>(std::make_unique<VirtualGripper>(), "virtual gripper"); }))
      .def(
          "set_io_status",
          [](VirtualHandle& handle, int status) {
            const VirtualHandle::Use gripper(handle);
            return gripper->setIoStatus(status);
          },
          py::arg("status"))
      .def("close", &Close<VirtualHandle>)
      .def_property_readonly("closed", &VirtualHandle::Closing);
}

}  // namespace vorn_io::python
