// The gripper's node loader on an arbitrary document. It answers a YAML
// problem with -1 and an error line; it must never throw or crash.
#include <cstddef>
#include <cstdint>

#include <yaml-cpp/yaml.h>

#include "fuzz_support.h"
#include "gripper_under_test.h"
#include "vorn_motor_sim/sim_control.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  vorn_io_fuzz::QuietLogger();
  vorn_io_fuzz::GripperUnderTest();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  YAML::Node node;
  if (!vorn_io_fuzz::Parse(vorn_io_fuzz::Text(data, size), node)) {
    return 0;
  }
  ServoGripper& gripper = vorn_io_fuzz::GripperUnderTest();
  const int result = gripper.function_get_para(node);
  vorn_io_fuzz::Require(result == 0 || result == -1, "node loader returned neither 0 nor -1");
  // The loaded torques go to the motor with the next commands.
  gripper.setIoStatus(0);
  gripper.setIoStatus(1);
  int status = 0;
  gripper.getIoStatus(status);
  vorn_motor_sim::Reset();
  return 0;
}
