#include <optional>
#include <string>

#include "vorn_io/config_keys.h"
#include "vorn_io/gripper/servo_gripper.h"

namespace {

namespace keys = vorn_io::keys;
namespace gripper_keys = vorn_io::keys::gripper;

// The loader converts each key with the C++ type below; the table must say the same.
static_assert(gripper_keys::kId.type == keys::Type::kInt);
static_assert(gripper_keys::kBaudrate.type == keys::Type::kUnsigned);
static_assert(gripper_keys::kDevName.type == keys::Type::kString);
static_assert(gripper_keys::kInverse.type == keys::Type::kBool);
static_assert(gripper_keys::kP.type == keys::Type::kDouble);
static_assert(gripper_keys::kI.type == keys::Type::kDouble);
static_assert(gripper_keys::kD.type == keys::Type::kDouble);
static_assert(gripper_keys::kLimitLow.type == keys::Type::kInt);
static_assert(gripper_keys::kLimitHigh.type == keys::Type::kInt);
static_assert(gripper_keys::kTorqueLow.type == keys::Type::kDouble);
static_assert(gripper_keys::kTorqueHigh.type == keys::Type::kDouble);
static_assert(!gripper_keys::kId.has_fallback && !gripper_keys::kDevName.has_fallback);

template <typename T>
T ReadOr(YAML::Node& node, const keys::ConfigKey& key) {
  return node[key.name].as<T>(keys::FallbackOf<T>(key));
}

}  // namespace

int ServoGripper::function_get_para(YAML::Node& node) {
  try {
    // Each value is stored as soon as it is read: a load that fails part-way
    // keeps what it read before the failure.
    id = static_cast<std::uint32_t>(node[gripper_keys::kId.name].as<int>());
    baudrate = ReadOr<unsigned int>(node, gripper_keys::kBaudrate);
    dev_name = node[gripper_keys::kDevName.name].as<std::string>();
    inverse = ReadOr<bool>(node, gripper_keys::kInverse);
    p = ReadOr<double>(node, gripper_keys::kP);
    i = ReadOr<double>(node, gripper_keys::kI);
    d = ReadOr<double>(node, gripper_keys::kD);
    limit_low = ReadOr<int>(node, gripper_keys::kLimitLow);
    limit_high = ReadOr<int>(node, gripper_keys::kLimitHigh);
    torque_low = ReadOr<double>(node, gripper_keys::kTorqueLow);
    torque_high = ReadOr<double>(node, gripper_keys::kTorqueHigh);

    LOG_INFO(
        "Gripper param: id = {}, baudrate = {}, dev_name = {}, inverse = {}, p = {:.3f}, i = {:.3f}, d ={:.3f}, "
        "limit_low = {}, limit_high = {}, torque_low = {}, torque_high = {}\r\n",
        id, baudrate, dev_name, inverse, p, i, d, limit_low, limit_high, torque_low, torque_high);
  } catch (const YAML::Exception& error) {
    LOG_ERROR("YAML Error: {}\r\n", error.what());
    return -1;
  }
  LOG_INFO("Load gripper yamlfile success!\r\n");
  return 0;
}

int ServoGripper::function_get_para(std::string& path) {
  // Held in an optional so that the section is bound by copy: assigning one
  // YAML::Node to another would make the target refer to the source instead.
  std::optional<YAML::Node> parameters;
  try {
    YAML::Node root = YAML::LoadFile(path);
    parameters.emplace(root[gripper_keys::kGripperFileRoot]);
  } catch (const YAML::Exception& error) {
    LOG_ERROR("YAML Error: {}\r\n", error.what());
    return -1;
  }
  // The node loader reports its own failures; the file itself was readable.
  function_get_para(*parameters);
  return 0;
}

int ServoGripper::function_get_para(unsigned int motor_number, std::string& path) {
  std::optional<YAML::Node> parameters;
  try {
    YAML::Node root = YAML::LoadFile(path);
    const std::string section = std::string(gripper_keys::kMotorSectionPrefix) + std::to_string(motor_number);
    parameters.emplace(root[section]);
  } catch (const YAML::Exception& error) {
    LOG_ERROR("YAML Error: {}\r\n", error.what());
    return -1;
  }
  function_get_para(*parameters);
  return 0;
}
