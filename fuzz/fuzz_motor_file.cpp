// The motor-file loader on an arbitrary file. The first byte of the input is
// the motor number (the section "feetechmotor<n>" looked up), the rest the
// file's text.
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
  if (size == 0) {
    return 0;
  }
  static vorn_io_fuzz::ScratchFile file;
  const unsigned int number = data[0];
  std::string path = file.Write(vorn_io_fuzz::Text(data + 1, size - 1));
  const int result = vorn_io_fuzz::GripperUnderTest().function_get_para(number, path);
  vorn_io_fuzz::Require(result == 0 || result == -1, "motor-file loader returned neither 0 nor -1");
  vorn_motor_sim::Reset();
  return 0;
}
