#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "motor_journal.h"
#include "test_support.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

/// Makes `dir` the working directory until destruction, then restores the previous one.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const std::filesystem::path& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }
  ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
  ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

using gripper_test::ConstructorArgs;
using gripper_test::LastMotion;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using vorn_io_test::LogOf;
using vorn_io_test::Occurrences;

constexpr const char* kSuccessLine = "[INFO] Load gripper yamlfile success!\r\n";
constexpr const char* kErrorTag = "[ERROR] YAML Error: ";

class GripperLoader : public testing::Test {
 protected:
  void SetUp() override { vorn_motor_sim::Reset(); }
  void TearDown() override { vorn_motor_sim::Reset(); }
};

// The torque limits a gripper sends: {with status 0, with status 1}.
std::vector<double> TorquesOf(ServoGripper& gripper, const std::string& dev_name) {
  gripper.setIoStatus(0);
  const double low = LastMotion(dev_name).at(2);
  gripper.setIoStatus(1);
  const double high = LastMotion(dev_name).at(2);
  return {low, high};
}

std::string YamlErrorOf(const std::function<void()>& failing) {
  try {
    failing();
  } catch (const YAML::Exception& error) {
    return error.what();
  }
  ADD_FAILURE() << "expected a YAML exception";
  return {};
}

TEST_F(GripperLoader, MinimalMapTakesEveryFallbackAndLogsTheParameterLine) {
  YAML::Node node = YAML::Load("id: 7\ndev_name: /dev/ttyUSB0\n");
  std::string host = "loader-minimal-host";
  ServoGripper gripper(1, 9600, host, false);

  int status = 1;
  const std::string out = LogOf([&] { status = gripper.function_get_para(node); });
  EXPECT_EQ(status, 0);
  const std::string parameter_line =
      "[INFO] Gripper param: id = 7, baudrate = 115200, dev_name = /dev/ttyUSB0, inverse = true, p = 2.000, "
      "i = 0.000, d =0.240, limit_low = -3400, limit_high = 3400, torque_low = 100, torque_high = 100\r\n";
  const std::size_t at_parameters = out.find(parameter_line);
  ASSERT_NE(at_parameters, std::string::npos) << out;
  EXPECT_GT(out.find(kSuccessLine), at_parameters) << out;
  EXPECT_EQ(Occurrences(out, "[INFO] "), 2U) << out;
  EXPECT_EQ(Occurrences(out, "[ERROR]"), 0U) << out;
}

TEST_F(GripperLoader, MinimalMapCreatesTheMotorFromTheStoredValues) {
  const std::string dev = "loader-minimal";
  {
    ServoGripper gripper(YAML::Load("id: 7\ndev_name: " + dev + "\n"));
    EXPECT_THAT(ConstructorArgs(dev), ElementsAre(7, 115200, 1));
    EXPECT_THAT(TorquesOf(gripper, dev), ElementsAre(100.0, 100.0));
  }
}

TEST_F(GripperLoader, NullDeviceNameReadsAsTheWordNull) {
  const std::string out = LogOf([] { ServoGripper gripper(YAML::Load("id: 5\ndev_name:\n")); });
  EXPECT_THAT(ConstructorArgs("null"), ElementsAre(5, 115200, 1));
  EXPECT_THAT(out, HasSubstr("dev_name = null, inverse"));
}

TEST_F(GripperLoader, UnreadableIdStopsTheLoadBeforeAnythingIsStored) {
  const std::string text = "id: 3.5\nbaudrate: 9600\ndev_name: loader-bad-id\ninverse: false\n";
  const std::string expected_error =
      kErrorTag + YamlErrorOf([&] { static_cast<void>(YAML::Load(text)["id"].as<int>()); }) + "\r\n";

  std::string host = "loader-bad-id-host";
  ServoGripper gripper(1, 9600, host, false);
  YAML::Node node = YAML::Load(text);
  int status = 0;
  std::string out = LogOf([&] { status = gripper.function_get_para(node); });
  EXPECT_EQ(status, -1);
  EXPECT_EQ(Occurrences(out, kErrorTag), 1U) << out;
  EXPECT_THAT(out, HasSubstr(expected_error));
  EXPECT_THAT(out, Not(HasSubstr("Gripper param")));
  EXPECT_THAT(out, Not(HasSubstr(kSuccessLine)));
}

TEST_F(GripperLoader, MissingDeviceNameKeepsIdAndBaudrateAndNothingAfter) {
  const std::string text = "id: 9\nbaudrate: 57600\ninverse: true\ntorque_low: 1\ntorque_high: 2\n";

  // Over an earlier load: the keys after dev_name keep the earlier values.
  const std::string host = "loader-keep";
  YAML::Node first = YAML::Load("id: 3\ndev_name: " + host + "\ninverse: false\ntorque_low: 30\ntorque_high: 60\n");
  ServoGripper gripper(first);
  YAML::Node second = YAML::Load(text);
  int status = 0;
  const std::string out = LogOf([&] { status = gripper.function_get_para(second); });
  EXPECT_EQ(status, -1);
  EXPECT_EQ(Occurrences(out, kErrorTag), 1U) << out;
  EXPECT_THAT(out, Not(HasSubstr(kSuccessLine)));
  EXPECT_THAT(TorquesOf(gripper, host), ElementsAre(30.0, 60.0));
}

// A motor from what a failed load left (no device name, a default id) could
// drive whichever servo answers: such a gripper makes none and refuses every
// command, however its parameters failed to load.
TEST_F(GripperLoader, AGripperWhoseParametersDidNotLoadHasNoMotorAndRefusesEveryCommand) {
  const vorn_io_test::TempDir dir;
  const std::string lifter_file = dir.Write("lifter.yaml", "vendor: damiao\nid: 1\ndev_name: loader-unloaded\n");
  const std::string motor_file = dir.Write("motors.yaml", "feetechmotor1:\n  id: 1\n  dev_name: loader-unloaded\n");
  const std::string missing = (dir.path() / "absent.yaml").string();
  struct Case {
    const char* name;
    std::function<std::unique_ptr<ServoGripper>()> build;
  };
  const std::vector<Case> cases = {
      {"missing file", [&] { return std::make_unique<ServoGripper>(missing); }},
      {"lifter file", [&] { return std::make_unique<ServoGripper>(lifter_file); }},
      {"no such section",
       [&] {
         std::string path = motor_file;
         return std::make_unique<ServoGripper>(2, path);
       }},
      {"id not an integer",
       [] { return std::make_unique<ServoGripper>(YAML::Load("id: 3.5\ndev_name: loader-unloaded")); }},
      {"no dev_name", [] { return std::make_unique<ServoGripper>(YAML::Load("id: 9\nbaudrate: 57600\n")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t live_before = vorn_motor_sim::LiveMotors();
    std::unique_ptr<ServoGripper> gripper;
    std::string out = LogOf([&] { gripper = c.build(); });
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), live_before);
    EXPECT_EQ(Occurrences(out, "[ERROR] The gripper parameters did not load, no motor created\n"), 1U) << out;
    out = LogOf([&] {
      EXPECT_EQ(gripper->setIoStatus(1), -1);
      EXPECT_EQ(gripper->setIoStatus(0), -1);
      EXPECT_EQ(gripper->setGripperMotion(3.0, 10.0), -1);
      bool finished = true;
      EXPECT_EQ(gripper->getGripperState(finished), -1);
      EXPECT_FALSE(finished);
      for (int poll = 0; poll < 450; ++poll) {
        int status = -1;
        gripper->getIoStatus(status);
        ASSERT_EQ(status, 0) << poll;
      }
    });
    EXPECT_EQ(Occurrences(out, "[ERROR] The gripper parameters did not load, motion to "), 3U) << out;
    gripper.reset();
  }
  EXPECT_TRUE(vorn_motor_sim::Journal("loader-unloaded").empty());
  EXPECT_TRUE(vorn_motor_sim::Journal("").empty());
}

TEST_F(GripperLoader, ScalarOrMissingMapIsOneErrorLine) {
  std::string host = "loader-scalar-host";
  ServoGripper gripper(1, 9600, host, false);
  for (const char* text : {"42", "[1, 2]", "~"}) {
    SCOPED_TRACE(text);
    YAML::Node node = YAML::Load(text);
    int status = 0;
    const std::string out = LogOf([&] { status = gripper.function_get_para(node); });
    EXPECT_EQ(status, -1);
    EXPECT_EQ(Occurrences(out, kErrorTag), 1U) << out;
    EXPECT_THAT(out, Not(HasSubstr(kSuccessLine)));
  }
}

TEST_F(GripperLoader, GripperFileReadsTheGripperEntry) {
  const vorn_io_test::TempDir dir;
  std::string path = dir.Write("gripper.yaml",
                               "other:\n  id: 99\ngripper:\n  id: 5\n  dev_name: loader-gfile\n  inverse: false\n"
                               "  torque_low: 30\n  torque_high: 60\n");
  const std::string out = LogOf([&] {
    ServoGripper gripper(path);
    EXPECT_THAT(TorquesOf(gripper, "loader-gfile"), ElementsAre(30.0, 60.0));
    int status = 1;
    std::string again = path;
    status = gripper.function_get_para(again);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(again, path);
  });
  EXPECT_THAT(ConstructorArgs("loader-gfile"), ElementsAre(5, 115200, 0));
  EXPECT_EQ(Occurrences(out, kSuccessLine), 2U) << out;
}

TEST_F(GripperLoader, GripperFileWithoutGripperEntryIsTheNodeLoadersError) {
  const vorn_io_test::TempDir dir;
  std::string path = dir.Write("other.yaml", "lifter:\n  id: 1\n  dev_name: loader-nogripper\n");
  std::string host = "loader-nogripper-host";
  ServoGripper gripper(1, 9600, host, false);
  int status = -1;
  const std::string out = LogOf([&] { status = gripper.function_get_para(path); });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Occurrences(out, kErrorTag), 1U) << out;
  EXPECT_THAT(out, Not(HasSubstr(kSuccessLine)));
}

TEST_F(GripperLoader, UnreadableFilesAreOneErrorLineAndChangeNothing) {
  const vorn_io_test::TempDir dir;
  const std::string host = "loader-unreadable";
  YAML::Node first = YAML::Load("id: 3\ndev_name: " + host + "\ntorque_low: 30\ntorque_high: 60\n");
  ServoGripper gripper(first);

  const std::vector<std::string> paths = {
      (dir.path() / "absent.yaml").string(),
      dir.Write("scalar.yaml", "just a scalar\n"),
      dir.Write("broken.yaml", "gripper: [1, 2\n"),
  };
  for (const std::string& file : paths) {
    SCOPED_TRACE(file);
    std::string path = file;
    for (const bool motor_file : {false, true}) {
      const char* section = motor_file ? "feetechmotor2" : "gripper";
      const std::string message = YamlErrorOf([&] { static_cast<void>(YAML::LoadFile(file)[section]); });
      int status = 0;
      const std::string out =
          LogOf([&] { status = motor_file ? gripper.function_get_para(2U, path) : gripper.function_get_para(path); });
      EXPECT_EQ(status, -1);
      EXPECT_EQ(Occurrences(out, kErrorTag), 1U) << out;
      EXPECT_THAT(out, HasSubstr(kErrorTag + message + "\r\n"));
      EXPECT_EQ(path, file);
    }
  }
  EXPECT_THAT(TorquesOf(gripper, host), ElementsAre(30.0, 60.0));
}

TEST_F(GripperLoader, MotorFileSectionIsChosenByNumberAndKeepsItsOwnId) {
  const vorn_io_test::TempDir dir;
  std::string path = dir.Write("motors.yaml",
                               "feetechmotor1:\n  id: 1\n  dev_name: loader-m1\n"
                               "feetechmotor12:\n  id: 40\n  dev_name: loader-m12\n  baudrate: 1000000\n"
                               "feetechmotor012:\n  id: 41\n  dev_name: loader-m012\n");
  {
    ServoGripper gripper(12, path);
    EXPECT_THAT(ConstructorArgs("loader-m12"), ElementsAre(40, 1000000, 1));

    int status = -1;
    const std::string out = LogOf([&] { status = gripper.function_get_para(3U, path); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Occurrences(out, kErrorTag), 1U) << out;
  }
  EXPECT_TRUE(vorn_motor_sim::Journal("loader-m1").empty());
  EXPECT_TRUE(vorn_motor_sim::Journal("loader-m012").empty());
}

TEST_F(GripperLoader, EmptyPathReadsTheDefaultFileOfTheWorkingDirectory) {
  const vorn_io_test::TempDir dir;
  dir.Write("motor_.yaml", "gripper:\n  id: 11\n  dev_name: loader-default-file\n");
  {
    const ScopedWorkingDirectory inside(dir.path());
    ServoGripper gripper(std::string{});
  }
  EXPECT_THAT(ConstructorArgs("loader-default-file"), ElementsAre(11, 115200, 1));
}

}  // namespace
