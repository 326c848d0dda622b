#pragma once

#include <string>

#include "vorn_io/gripper/servo_gripper.h"

namespace vorn_io_fuzz {

/// One gripper for the whole run: construction pauses 30 ms and destruction
/// 200 ms, far too slow per input. Never destroyed; it stays reachable, so
/// the leak checker does not count it.
inline ServoGripper& GripperUnderTest() {
  static std::string dev_name = "fuzz-gripper";
  static ServoGripper* const gripper = new ServoGripper(1, 115200, dev_name, false);
  return *gripper;
}

}  // namespace vorn_io_fuzz
