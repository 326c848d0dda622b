#include <memory>

#include <gtest/gtest.h>

#include "vorn_io/virtual_gripper.h"

TEST(VirtualGripper, AcceptsEveryCommandAndReportsNothing) {
  std::unique_ptr<VornIoInterface> device = std::make_unique<VirtualGripper>();
  for (const int command : {0, 1, -1, 7}) {
    EXPECT_EQ(device->setIoStatus(command), 0) << command;
  }
  int status = -1;
  EXPECT_EQ(device->getIoStatus(status), 0);
  EXPECT_EQ(status, -1);
  device.reset();  // deletion through the interface pointer
}
