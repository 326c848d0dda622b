#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "lifter_test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using namespace lifter_test;

TEST(LifterConstruction, StartsTheMotorInOrderThenTicks) {
  const std::string dev = UniqueDevName();
  UpdownLifter lifter(Description(dev, "id: 3\nmode: 1\nmaster_id: 0x13\n" + FastTicks()));

  // Idle ticks make no motor call, so the journal holds the start-up alone.
  const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(dev);
  std::vector<std::string> ops;
  ops.reserve(journal.size());
  for (const vorn_motor_sim::Call& call : journal) {
    ops.push_back(call.op);
  }
  ASSERT_EQ(ops, (std::vector<std::string>{"damiaoMotor", "initMotor", "setZeroPosition", "setEnable"}));
  EXPECT_EQ(journal[2].args, std::vector<double>{200.0});
  EXPECT_EQ(journal[3].args, std::vector<double>{1.0});

  // The timer is running: a command is picked up by a tick.
  ASSERT_EQ(lifter.setIoStatus(1), 0);
  EXPECT_TRUE(WaitFor([&] { return CountOf(dev, "setPosition") > 0; }));
}

TEST(LifterConstruction, StartUpLineShowsTheKeysAndTheNormalisedTravel) {
  struct Case {
    std::string yaml;
    std::string line;
  };
  // Without "vendor" there is no motor: the start-up line comes first anyway.
  const std::vector<Case> cases = {
      {"id: 0x10\nmaster_id: 0x20\nmode: 3\ndev_name: can0\nmaxpos: -600\n",
       "id: 16; master_id: 32; mode: 3; strdev: can0; maxpos: 600.00\r\n"},
      {"maxpos: 600\n", "id: 0; master_id: 0; mode: 0; strdev: ; maxpos: 480.00\r\n"},
      {"maxpos: 480\n", "id: 0; master_id: 0; mode: 0; strdev: ; maxpos: 480.00\r\n"},
      {"maxpos: -100\n", "id: 0; master_id: 0; mode: 0; strdev: ; maxpos: 100.00\r\n"},
      {"maxpos: 12.345\n", "id: 0; master_id: 0; mode: 0; strdev: ; maxpos: 12.35\r\n"},
      {"maxpos: word\nid: 010\n", "id: 8; master_id: 0; mode: 0; strdev: ; maxpos: 450.00\r\n"},
      {"dev_name: ~\n", "id: 0; master_id: 0; mode: 0; strdev: null; maxpos: 450.00\r\n"},
  };
  for (const Case& c : cases) {
    LogCapture capture;
    { UpdownLifter lifter(YAML::Load(c.yaml)); }
    EXPECT_EQ(Occurrences(capture.Text(), "[INFO] " + c.line), 1U) << c.yaml;
  }
}

TEST(LifterConstruction, WithoutVendorHasNoMotorAndNoThread) {
  const std::size_t motors = vorn_motor_sim::LiveMotors();
  const std::size_t threads = ThreadCount();
  LogCapture capture;
  {
    UpdownLifter lifter(YAML::Load("dev_name: nobody\nmaxpos: 2\n"));
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), motors);
    EXPECT_EQ(ThreadCount(), threads);
    int status = -1;
    EXPECT_EQ(lifter.getIoStatus(status), 0);
  }
  EXPECT_EQ(Occurrences(capture.Text(), "[ERROR] Must specify motor vendor name!!!\r\n"), 1U);
  EXPECT_TRUE(vorn_motor_sim::Journal("nobody").empty());
}

TEST(LifterConstruction, YamlErrorsLeaveTheConstructor) {
  const std::size_t motors = vorn_motor_sim::LiveMotors();
  std::string scalar_error = "none";
  try {
    UpdownLifter lifter(YAML::Load("5"));
  } catch (const YAML::Exception& error) {
    scalar_error = error.msg;
  }
  EXPECT_EQ(scalar_error.rfind("operator[] call on a scalar", 0), 0U) << scalar_error;
  for (const char* yaml : {"vendor: damiao\nid: one\n", "vendor: damiao\nmode: ~\n", "vendor: damiao\ndev_name: [a]\n",
                           "vendor: [damiao]\n"}) {
    EXPECT_THROW(UpdownLifter{YAML::Load(yaml)}, YAML::Exception) << yaml;
  }
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), motors);
}

TEST(LifterConstruction, MotorConstructorErrorLeavesNoMotorAndNoThread) {
  const std::string dev = UniqueDevName();
  vorn_motor_sim::MotorScript script;
  script.constructorThrows = true;
  vorn_motor_sim::Configure(dev, script);
  const std::size_t motors = vorn_motor_sim::LiveMotors();
  const std::size_t threads = ThreadCount();

  EXPECT_THROW(UpdownLifter{Description(dev)}, std::runtime_error);
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), motors);
  EXPECT_EQ(ThreadCount(), threads);
}

}  // namespace
