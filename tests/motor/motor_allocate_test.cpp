#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "test_support.h"
#include "vorn_io/description.h"
#include "vorn_motor/common/motor_factory.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::Not;

struct Allocation {
  std::shared_ptr<MotorInterface> motor;
  std::string log;
};

Allocation Allocate(const std::string& yaml) {
  const YAML::Node node = YAML::Load(yaml);
  Allocation allocation;
  vorn_io_test::LogCapture capture;
  allocation.motor = MotorAllocate(node);
  allocation.log = capture.Text();
  return allocation;
}

/// The constructor call the stand-in journaled for `dev_name`.
vorn_motor_sim::Call Construction(const std::string& dev_name, const std::string& kind) {
  const std::vector<vorn_motor_sim::Call> calls = vorn_motor_sim::Calls(dev_name, kind);
  EXPECT_EQ(calls.size(), 1U) << dev_name;
  return calls.empty() ? vorn_motor_sim::Call{} : calls.front();
}

/// The constructor arguments the motor reader's settings stand for, as the
/// stand-in journals them: MotorAllocate writes the motor keys out on its
/// own, and the reader must read them the same.
std::vector<double> ArgumentsOf(const vorn_io::MotorSettings& motor) {
  const auto bits = [](int value) { return static_cast<double>(static_cast<unsigned int>(value)); };
  if (motor.vendor == vorn_io::MotorVendor::kDamiao) {
    return {static_cast<double>(motor.motor_model),
            bits(motor.id),
            bits(motor.mode),
            bits(motor.master_id),
            motor.inverse ? 1.0 : 0.0,
            motor.kp,
            motor.kd};
  }
  return {bits(motor.id), bits(motor.baudrate), motor.inverse ? 1.0 : 0.0};
}

std::string WhatOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& thrown) {
    return thrown.what();
  }
}

class MotorAllocateTest : public testing::Test {
 protected:
  void SetUp() override { vorn_motor_sim::Reset(); }
  void TearDown() override { vorn_motor_sim::Reset(); }
};

struct ConstructorCase {
  const char* label;
  const char* yaml;
  const char* kind;
  const char* dev_name;
  std::vector<double> args;
};

TEST_F(MotorAllocateTest, PassesTheDescribedArgumentsToTheConstructor) {
  const std::vector<ConstructorCase> cases = {
      {"damiao, vendor only", "vendor: damiao", "damiaoMotor", "", {4340, 0, 0, 0, 0, 15.0, 1.0}},
      {"feetech, vendor only", "vendor: feetech", "feetechMotor", "", {0, 115200, 0}},
      {"damiao, every key",
       "{vendor: damiao, id: 3, dev_name: can-every, inverse: true, mode: 2, master_id: 0x13, kp: 20.5, kd: 0.5, "
       "motor_model: 4310}",
       "damiaoMotor",
       "can-every",
       {4310, 3, 2, 19, 1, 20.5, 0.5}},
      {"feetech, every key", "{vendor: feetech, id: 7, baudrate: 1000000, dev_name: tty-every, inverse: yes}",
       "feetechMotor", "tty-every", std::vector<double>{7, 1000000, 1}},
      {"vendor in mixed case", "{vendor: DaMiao, dev_name: can-mixed}", "damiaoMotor", "can-mixed",
       std::vector<double>{4340, 0, 0, 0, 0, 15.0, 1.0}},
      {"unreadable values fall back",
       "{vendor: damiao, dev_name: can-words, kp: word, kd: word, motor_model: word, inverse: notbool}", "damiaoMotor",
       "can-words", std::vector<double>{4340, 0, 0, 0, 0, 15.0, 1.0}},
      {"unreadable baudrate falls back", "{vendor: feetech, dev_name: tty-words, baudrate: word, inverse: notbool}",
       "feetechMotor", "tty-words", std::vector<double>{0, 115200, 0}},
      {"negative ids keep their bits", "{vendor: damiao, dev_name: can-negative, id: -1, master_id: -2, mode: -3}",
       "damiaoMotor", "can-negative", std::vector<double>{4340, 4294967295.0, 4294967293.0, 4294967294.0, 0, 15, 1}},
  };
  for (const ConstructorCase& c : cases) {
    SCOPED_TRACE(c.label);
    vorn_motor_sim::Reset();
    const Allocation allocation = Allocate(c.yaml);
    ASSERT_NE(allocation.motor, nullptr);
    const vorn_motor_sim::Call call = Construction(c.dev_name, c.kind);
    EXPECT_THAT(call.args, ElementsAreArray(c.args));
    EXPECT_EQ(call.text, c.dev_name);

    const vorn_io::MotorReading reading = vorn_io::ReadMotorDescription(YAML::Load(c.yaml));
    EXPECT_FALSE(reading.error);
    EXPECT_THAT(ArgumentsOf(reading.settings), ElementsAreArray(call.args));
    EXPECT_EQ(reading.settings.dev_name, call.text);
    EXPECT_EQ(reading.settings.vendor == vorn_io::MotorVendor::kDamiao, std::string(c.kind) == "damiaoMotor");
  }
}

TEST_F(MotorAllocateTest, LogsTheVendorLowerCasedWithoutLineEnd) {
  const Allocation allocation = Allocate("{vendor: DaMiao, dev_name: can-case}");
  EXPECT_THAT(allocation.log, HasSubstr("[INFO] Allocate Motor: damiao\n"));
  EXPECT_NE(std::dynamic_pointer_cast<damiaoMotor>(allocation.motor), nullptr);
}

TEST_F(MotorAllocateTest, GivesNoMotorForAnotherVendorOrANullOne) {
  const std::size_t live = vorn_motor_sim::LiveMotors();
  for (const auto& [yaml, logged] : {std::pair<const char*, const char*>{"{vendor: servo, dev_name: x-servo}", "servo"},
                                     {"{vendor: ~, dev_name: x-null}", "null"},
                                     {"{vendor: , dev_name: x-empty}", "null"}}) {
    SCOPED_TRACE(yaml);
    const Allocation allocation = Allocate(yaml);
    EXPECT_EQ(allocation.motor, nullptr);
    EXPECT_THAT(allocation.log, HasSubstr(std::string("[INFO] Allocate Motor: ") + logged + "\n"));
    const vorn_io::MotorReading reading = vorn_io::ReadMotorDescription(YAML::Load(yaml));
    EXPECT_EQ(reading.settings.vendor, vorn_io::MotorVendor::kNone);
    EXPECT_EQ(reading.settings.vendor_name, logged);
    // Nothing beyond the vendor line: no motor line, no constructor call.
    EXPECT_THAT(allocation.log, Not(HasSubstr("id: ")));
  }
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live);
  EXPECT_TRUE(vorn_motor_sim::Journal("x-servo").empty());
  EXPECT_TRUE(vorn_motor_sim::Journal("x-null").empty());
}

TEST_F(MotorAllocateTest, AMissingVendorIsAnError) {
  const Allocation allocation = Allocate("{id: 1, dev_name: x-missing}");
  EXPECT_EQ(allocation.motor, nullptr);
  EXPECT_THAT(allocation.log, HasSubstr("[ERROR] Must specify motor vendor name!!!\r\n"));
  EXPECT_THAT(allocation.log, Not(HasSubstr("Allocate Motor")));
}

TEST_F(MotorAllocateTest, ANullNodeGivesNoMotorAndNoLine) {
  for (const char* yaml : {"", "~"}) {
    const Allocation allocation = Allocate(yaml);
    EXPECT_EQ(allocation.motor, nullptr);
    EXPECT_THAT(allocation.log, Not(HasSubstr("[")));
  }
}

TEST_F(MotorAllocateTest, PrintsIdsInHexadecimal) {
  const Allocation damiao =
      Allocate("{vendor: damiao, id: 0x10, master_id: 31, mode: 1, dev_name: can-hex, inverse: true}");
  EXPECT_THAT(damiao.log, HasSubstr("[INFO] id: 0X10; master_id: 0X1F; mode: 1; strdev: can-hex, inverse: true\r\n"));
  EXPECT_THAT(damiao.log, HasSubstr("[INFO] motor_model: 4340\r\n"));
  EXPECT_EQ(Construction("can-hex", "damiaoMotor").args.at(1), 16.0);

  const Allocation feetech = Allocate("{vendor: feetech, id: 0x10, dev_name: tty-hex}");
  EXPECT_THAT(feetech.log, HasSubstr("[INFO] id: 0X10; baud: 115200; device name: tty-hex; inverse: false\r\n"));
}

TEST_F(MotorAllocateTest, KeysWithoutFallbackThrowOnUnreadableValues) {
  const std::size_t live = vorn_motor_sim::LiveMotors();
  for (const char* yaml : {
           "{vendor: damiao, id: abc, dev_name: x-bad}",
           "{vendor: feetech, id: 1.5, dev_name: x-bad}",
           "{vendor: damiao, id: , dev_name: x-bad}",
           "{vendor: damiao, mode: fast, dev_name: x-bad}",
           "{vendor: damiao, master_id: x, dev_name: x-bad}",
           "{vendor: servo, id: abc, dev_name: x-bad}",  // read before the vendor is looked at

           "{vendor: [damiao], dev_name: x-bad}",
           "{vendor: damiao, dev_name: [a, b]}",
       }) {
    SCOPED_TRACE(yaml);
    std::string thrown;
    try {
      Allocate(yaml);
    } catch (const YAML::BadConversion& error) {
      thrown = error.what();
    }
    EXPECT_FALSE(thrown.empty());
    // The reader keeps the very exception the allocation raises.
    const vorn_io::MotorReading reading = vorn_io::ReadMotorDescription(YAML::Load(yaml));
    ASSERT_TRUE(reading.error);
    EXPECT_EQ(WhatOf(reading.error), thrown);
  }
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live);
  EXPECT_TRUE(vorn_motor_sim::Journal("x-bad").empty());
}

TEST_F(MotorAllocateTest, AConstructorFailurePassesToTheCaller) {
  vorn_motor_sim::MotorScript script;
  script.constructorThrows = true;
  vorn_motor_sim::Configure("can-throws", script);
  const std::size_t live = vorn_motor_sim::LiveMotors();
  EXPECT_THROW(Allocate("{vendor: damiao, dev_name: can-throws}"), std::runtime_error);
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live);
  const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal("can-throws");
  ASSERT_EQ(journal.size(), 1U);
  EXPECT_EQ(journal[0].op, "damiaoMotor");
  EXPECT_EQ(journal[0].result, -1);
}

TEST_F(MotorAllocateTest, TheMotorIsReleasedWithItsLastHandle) {
  std::shared_ptr<MotorInterface> motor = Allocate("{vendor: feetech, dev_name: tty-release}").motor;
  const std::size_t live = vorn_motor_sim::LiveMotors();
  motor.reset();
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live - 1);
  EXPECT_THAT(vorn_motor_sim::Journal("tty-release").back().op, "~feetechMotor");
}

}  // namespace
