// Documents nested far deeper than any description: the parsers must answer
// with an error, never by running out of stack. yaml-cpp 0.7 refuses nesting
// beyond its own depth limit (a few hundred levels) with a parser exception,
// which the gripper's file loaders turn into -1 and an error line; for the
// lifter the host parses, and the exception reaches the host there.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "test_support.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"

namespace {

constexpr int kDeep = 5000;

std::string Repeat(const std::string& part, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) {
    text += part;
  }
  return text;
}

struct Nested {
  const char* name;
  std::string text;  // the deep value, to stand where a scalar would
};

std::vector<Nested> DeepValues() {
  std::string block;
  for (int i = 0; i < kDeep; ++i) {
    block += "\n" + std::string(static_cast<std::size_t>(2 * (i + 1)), ' ') + "a:";
  }
  block += " 1";
  return {
      {"flow sequences", Repeat("[", kDeep) + Repeat("]", kDeep)},
      {"flow maps", Repeat("{a: ", kDeep) + "1" + Repeat("}", kDeep)},
      {"block maps", block},
  };
}

class TempFile {
 public:
  explicit TempFile(const std::string& text) {
    std::vector<char> name{'/', 't', 'm', 'p', '/', 'v', 'o', 'r', 'n', '_', 'd',
                           'e', 'e', 'p', '_', 'X', 'X', 'X', 'X', 'X', 'X', '\0'};
    const int fd = mkstemp(name.data());
    EXPECT_GE(fd, 0);
    close(fd);
    path_ = name.data();
    std::ofstream(path_) << text;
  }
  ~TempFile() { unlink(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  std::string& path() { return path_; }

 private:
  std::string path_;
};

TEST(DeepNesting, HostParseRefusesItBeforeAnyDeviceSeesIt) {
  for (const Nested& nested : DeepValues()) {
    EXPECT_THROW(YAML::Load(nested.text), YAML::Exception) << nested.name;
    EXPECT_THROW(YAML::Load("vendor: feetech\ndev_name: " + nested.text), YAML::Exception) << nested.name;
  }
}

TEST(DeepNesting, GripperFileLoadersReturnAnError) {
  std::string dev_name = "faults-deep-gripper";
  ServoGripper gripper(1, 115200, dev_name, false);
  for (const Nested& nested : DeepValues()) {
    TempFile gripper_file("gripper:\n  id: " + nested.text + "\n");
    TempFile motor_file("feetechmotor1:\n  id: " + nested.text + "\n");
    vorn_io_test::LogCapture capture;
    EXPECT_EQ(gripper.function_get_para(gripper_file.path()), -1) << nested.name;
    EXPECT_EQ(gripper.function_get_para(1U, motor_file.path()), -1) << nested.name;
    const std::string out = capture.Text();
    std::size_t errors = 0;
    for (std::size_t at = out.find("[ERROR] YAML Error: "); at != std::string::npos;
         at = out.find("[ERROR] YAML Error: ", at + 1)) {
      ++errors;
    }
    EXPECT_EQ(errors, 2U) << nested.name << "\n" << out;
  }
}

// Nesting that yaml-cpp still accepts reaches the devices as an unreadable
// value: the lifter throws, the gripper's loader fails, both without harm.
TEST(DeepNesting, AcceptedDeepValuesAreUnreadableValues) {
  const std::string deep = Repeat("[", 300) + Repeat("]", 300);
  EXPECT_THROW(UpdownLifter{YAML::Load("vendor: feetech\nid: " + deep)}, YAML::Exception);
  YAML::Node parameters = YAML::Load("dev_name: faults-deep\nid: " + deep);
  std::string dev_name = "faults-deep-gripper-2";
  ServoGripper gripper(1, 115200, dev_name, false);
  EXPECT_EQ(gripper.function_get_para(parameters), -1);
}

}  // namespace
