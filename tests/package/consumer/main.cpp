// The smallest host program: reads the version line, logs a line, reads a
// description and commands a device through the interface, using only the
// installed headers.

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

  // A frequency of 0 would give no tick period; the reader says what the lifter uses instead.
  const vorn_io::LifterReading reading = vorn_io::ReadLifterDescription(YAML::Load("{vendor: damiao, freq: 0}"));
  const vorn_io::KeyAccount* freq = reading.account.Find("freq");
  const bool replaced = freq != nullptr && freq->origin == vorn_io::KeyOrigin::kReplaced && reading.settings.freq == 10;
  std::printf("description: freq %s (%s)\n", freq != nullptr ? freq->value.c_str() : "?",
              freq != nullptr ? vorn_io::OriginName(freq->origin) : "?");
  std::fflush(stdout);
  return set_result == 0 && get_result == 0 && replaced ? 0 : 1;
}
