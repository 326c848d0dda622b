// The smallest host program: reads the version line, logs a line and commands
// a device through the interface, using only the installed headers.

#include <cstdio>
#include <memory>

#include "vorn_io/vorn_io.h"

int main() {
  std::printf("%s\n", get_version_str());

  LOG_INFO("consumer line {}", 1);

  const std::unique_ptr<VornIoInterface> gripper = std::make_unique<VirtualGripper>();
  const int set_result = gripper->setIoStatus(1);
  int status = 7;
  const int get_result = gripper->getIoStatus(status);
  std::printf("virtual gripper: setIoStatus(1) = %d, getIoStatus = %d, status %d\n", set_result, get_result, status);
  std::fflush(stdout);
  return set_result == 0 && get_result == 0 ? 0 : 1;
}
