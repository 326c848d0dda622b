// A robot program's use of vorn_io, in miniature: it builds its devices from
// YAML, holds them through VornIoInterface, commands them, polls each with a
// deadline and destroys them through the interface, which parks their motors.
//
//   host LIFTER.yaml GRIPPER.yaml
//
// Built against the installed package (see CMakeLists.txt next to it).
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include <yaml-cpp/yaml.h>

#include "vorn_io/vorn_io.h"

namespace {

using Clock = std::chrono::steady_clock;

// Polls `device` until it reports `wanted` or the deadline passes.
bool WaitFor(VornIoInterface& device, int wanted, std::chrono::milliseconds period, std::chrono::seconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    int status = 0;
    device.getIoStatus(status);
    if (status == wanted) {
      return true;
    }
    std::this_thread::sleep_for(period);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s LIFTER.yaml GRIPPER.yaml\n", argv[0]);
    return 2;
  }
  std::printf("%s\n", get_version_str());

  std::unique_ptr<VornIoInterface> lifter;
  std::unique_ptr<VornIoInterface> gripper;
  try {
    // A lifter takes a node of the host's own document; a gripper may read its file itself.
    lifter = std::make_unique<UpdownLifter>(YAML::LoadFile(argv[1]));
    gripper = std::make_unique<ServoGripper>(std::string(argv[2]));
  } catch (const std::exception& error) {  // YAML::Exception included
    std::fprintf(stderr, "cannot build the devices: %s\n", error.what());
    return 2;
  }

  // The lifter reports -1 while it moves and the reached state afterwards.
  if (lifter->setIoStatus(1) != 0) {
    std::fprintf(stderr, "the lifter refused the move\n");
    return 1;
  }
  const bool lifted = WaitFor(*lifter, 1, std::chrono::milliseconds(50), std::chrono::seconds(30));
  std::printf("host: lifter %s\n", lifted ? "in state 1" : "timed out");

  // The gripper reports 1 once its last motion has come to rest.
  gripper->setIoStatus(1);
  const bool gripped = WaitFor(*gripper, 1, std::chrono::milliseconds(5), std::chrono::seconds(90));
  std::printf("host: gripper %s\n", gripped ? "settled" : "timed out");

  // Destroyed through the interface: each device parks and disables its motor.
  lifter.reset();
  gripper.reset();
  std::printf("host: devices released\n");
  return lifted && gripped ? 0 : 3;
}
