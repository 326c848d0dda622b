// The gripper-file loader on an arbitrary file: -1 for a file yaml-cpp
// cannot read or whose root is no map, else 0; never a throw or a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "gripper_under_test.h"
#include "vorn_motor_sim/sim_control.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  vorn_io_fuzz::QuietLogger();
  vorn_io_fuzz::GripperUnderTest();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static vorn_io_fuzz::ScratchFile file;
  std::string path = file.Write(vorn_io_fuzz::Text(data, size));
  const int result = vorn_io_fuzz::GripperUnderTest().function_get_para(path);
  vorn_io_fuzz::Require(result == 0 || result == -1, "gripper-file loader returned neither 0 nor -1");
  vorn_motor_sim::Reset();
  return 0;
}
