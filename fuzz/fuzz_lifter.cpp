// A lifter built from an arbitrary description, the way a host builds one:
// the host parses the text, the lifter reads the node. yaml-cpp's exceptions
// are the lifter's documented answer to a node it cannot read; anything
// else leaving the constructor, and any crash, is a finding. The description
// readers see the same node first: they must never throw, and the lifter
// must raise exactly when its reading holds an error.
#include <cstddef>
#include <cstdint>

#include <yaml-cpp/yaml.h>

#include "fuzz_support.h"
#include "vorn_io/description.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  vorn_io_fuzz::QuietLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  YAML::Node node;
  // A crash inside this parse is yaml-cpp's, not the lifter's.
  if (!vorn_io_fuzz::Parse(vorn_io_fuzz::Text(data, size), node)) {
    return 0;
  }
  const vorn_io::LifterReading reading = vorn_io::ReadLifterDescription(node);
  static_cast<void>(vorn_io::TellDescriptionKind(node));
  static_cast<void>(vorn_io::ReadGripperFile(node));
  static_cast<void>(vorn_io::ReadMotorFile(node));
  bool raised = false;
  try {
    // Most inputs name no vendor the stand-in knows and give a lifter without
    // motor; those that do get a motor and a ticking timer. A move is started
    // so that the ramp runs on the fuzzed settings until destruction stops it.
    UpdownLifter lifter(node);
    const int started = lifter.setIoStatus(1);
    vorn_io_fuzz::Require(started == 0 || started == -1, "setIoStatus returned neither 0 nor -1");
    int status = 7;
    const int reported = lifter.getIoStatus(status);
    vorn_io_fuzz::Require(reported == status, "getIoStatus returned other than it stored");
    vorn_io_fuzz::Require(status == -1 || status == 0 || status == 1, "getIoStatus reported an unknown state");
  } catch (const YAML::Exception&) {
    // Documented: an unreadable key without fallback, or a scalar node.
    raised = true;
  }
  vorn_io_fuzz::Require(raised == (reading.error || reading.motor.error),
                        "the lifter and its reading disagree on whether the description can be read");
  vorn_io_fuzz::Require(vorn_motor_sim::LiveMotors() == 0, "a motor outlived its lifter");
  vorn_motor_sim::Reset();
  return 0;
}
