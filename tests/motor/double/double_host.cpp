// A host program of libvorn_io that does not know which libvorn_motor it
// runs on: it moves a lifter once and shuts it down.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include <yaml-cpp/yaml.h>

#include "vorn_io/lifter.h"

int main() {
  const YAML::Node node = YAML::Load("{vendor: damiao, dev_name: double-host, freq: 50, speed: 10, maxpos: 1}");
  auto lifter = std::make_unique<UpdownLifter>(node);
  if (lifter->setIoStatus(1) != 0) {
    std::printf("host: move refused\n");
    return 1;
  }
  int status = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (lifter->getIoStatus(status) == -1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::printf("host: status %d\n", status);
  std::fflush(stdout);
  lifter.reset();
  std::printf("host: done\n");
  return status == 1 ? 0 : 1;
}
