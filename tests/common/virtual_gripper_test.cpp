#include <memory>
#include <typeinfo>

#include <gtest/gtest.h>

#include "vorn_io/virtual_gripper.h"

namespace {

TEST(VirtualGripper, AcceptsEveryCommandAndReportsNothing) {
  std::unique_ptr<VornIoInterface> device = std::make_unique<VirtualGripper>();
  for (const int preset : {-1, 0, 1, 42}) {
    for (const int command : {0, 1, -1, 7}) {
      EXPECT_EQ(device->setIoStatus(command), 0) << command;
      int status = preset;
      EXPECT_EQ(device->getIoStatus(status), 0);
      EXPECT_EQ(status, preset) << "after command " << command;
    }
  }
}

// The type information lives in the library; a host must see one type across
// the module boundary to tell its devices apart.
TEST(VirtualGripper, IsRecognisedThroughTheInterface) {
  const std::unique_ptr<VornIoInterface> device = std::make_unique<VirtualGripper>();
  EXPECT_NE(dynamic_cast<VirtualGripper*>(device.get()), nullptr);
  EXPECT_EQ(typeid(*device), typeid(VirtualGripper));
}

}  // namespace
