#include <dirent.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using Clock = std::chrono::steady_clock;

std::size_t ThreadCount() {
  std::size_t count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks)) {
      count += entry->d_name[0] != '.' ? 1U : 0U;
    }
    closedir(tasks);
  }
  return count;
}

YAML::Node Lifter(const std::string& vendor, const std::string& dev_name, unsigned freq) {
  YAML::Node node;
  node["vendor"] = vendor;
  node["dev_name"] = dev_name;
  node["freq"] = freq;
  return node;
}

// A motor that never reports disabled, on a lifter deleted in the middle of a
// move with ticks back to back: delete gives up after its 50 polls, and
// through those 5 s the stopped timer sends the motor nothing.
TEST(MotorFaults, NeverDisablingMotorMidMoveIsReleasedWithoutFurtherTicks) {
  vorn_motor_sim::Reset();
  const std::string dev = "faults-never-disables";
  vorn_motor_sim::MotorScript script;
  script.neverDisables = true;
  vorn_motor_sim::Configure(dev, script);

  auto lifter = std::make_unique<UpdownLifter>(Lifter("damiao", dev, 2000));
  ASSERT_EQ(lifter->setIoStatus(1), 0);
  testing::internal::CaptureStdout();
  const Clock::time_point begin = Clock::now();
  lifter.reset();
  const Clock::duration took = Clock::now() - begin;
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_LT(took, std::chrono::seconds(15));
  EXPECT_NE(out.find("[ERROR] Motor still enabled after 50 polls"), std::string::npos) << out;
  const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(dev);
  std::size_t disable = 0;
  while (disable < journal.size() && !(journal[disable].op == "setEnable" && journal[disable].args[0] == 0.0)) {
    ++disable;
  }
  ASSERT_LT(disable, journal.size());
  std::vector<std::string> after;
  for (std::size_t i = disable + 1; i < journal.size(); ++i) {
    after.push_back(journal[i].op);
  }
  std::vector<std::string> expected(51, "getEnableState");
  expected.emplace_back("~damiaoMotor");
  EXPECT_EQ(after, expected);
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), 0U);
  vorn_motor_sim::Reset();
}

// The exception of a motor constructor reaches the host from the device's
// constructor, with nothing left behind: no motor, no thread, no memory (the
// ASan build checks the last).
TEST(MotorFaults, ThrowingMotorConstructorReachesTheHostAndLeavesNothing) {
  vorn_motor_sim::Reset();
  vorn_motor_sim::MotorScript script;
  script.constructorThrows = true;
  for (const char* vendor : {"damiao", "feetech"}) {
    const std::string dev = std::string("faults-throws-") + vendor;
    vorn_motor_sim::Configure(dev, script);
    const std::size_t threads = ThreadCount();
    EXPECT_THROW(UpdownLifter{Lifter(vendor, dev, 2000)}, std::runtime_error) << vendor;
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), 0U) << vendor;
    EXPECT_EQ(ThreadCount(), threads) << vendor;
    // Nothing was called on a motor that never came to be.
    const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(dev);
    ASSERT_EQ(journal.size(), 1U) << vendor;
    EXPECT_EQ(journal[0].result, -1) << vendor;
  }

  std::string dev = "faults-throws-gripper";
  vorn_motor_sim::Configure(dev, script);
  EXPECT_THROW(ServoGripper(1, 115200, dev, false), std::runtime_error);
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), 0U);
  vorn_motor_sim::Reset();
}

}  // namespace
