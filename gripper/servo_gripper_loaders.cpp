#include <exception>
#include <optional>
#include <string>

#include "gripper/servo_gripper_impl.h"
#include "vorn_io/config_keys.h"
#include "vorn_io/description.h"
#include "vorn_io/gripper/servo_gripper.h"

namespace gripper_keys = vorn_io::keys::gripper;

int ServoGripper::function_get_para(YAML::Node& node) { return impl_->function_get_para(node); }

int ServoGripper::function_get_para(std::string& path) { return impl_->function_get_para(path); }

int ServoGripper::function_get_para(unsigned int id, std::string& path) { return impl_->function_get_para(id, path); }

int ServoGripper::Impl::function_get_para(YAML::Node& node) {
  const vorn_io::GripperSettings before{id, baudrate,  dev_name,   inverse,    p,          i,
                                        d,  limit_low, limit_high, torque_low, torque_high};
  const vorn_io::GripperReading reading = vorn_io::ReadGripperParameters(node, before);
  // A load that stopped keeps what it read before the error.
  const vorn_io::GripperSettings& read = reading.settings;
  id = read.id;
  baudrate = read.baudrate;
  dev_name = read.dev_name;
  inverse = read.inverse;
  p = read.p;
  i = read.i;
  d = read.d;
  limit_low = read.limit_low;
  limit_high = read.limit_high;
  torque_low = read.torque_low;
  torque_high = read.torque_high;
  parametersLoaded = false;
  try {
    if (reading.error) {
      std::rethrow_exception(reading.error);
    }
  } catch (const YAML::Exception& error) {
    LOG_ERROR("YAML Error: {}\r\n", error.what());
    return -1;
  }
  parametersLoaded = true;
  LOG_INFO(
      "Gripper param: id = {}, baudrate = {}, dev_name = {}, inverse = {}, p = {:.3f}, i = {:.3f}, d ={:.3f}, "
      "limit_low = {}, limit_high = {}, torque_low = {}, torque_high = {}\r\n",
      id, baudrate, dev_name, inverse, p, i, d, limit_low, limit_high, torque_low, torque_high);
  LOG_INFO("Load gripper yamlfile success!\r\n");
  return 0;
}

int ServoGripper::Impl::function_get_para(std::string& path) {
  // Held in an optional so that the section is bound by copy: assigning one
  // YAML::Node to another would make the target refer to the source instead.
  std::optional<YAML::Node> parameters;
  try {
    YAML::Node root = YAML::LoadFile(path);
    parameters.emplace(root[gripper_keys::kGripperFileRoot]);
  } catch (const YAML::Exception& error) {
    LOG_ERROR("YAML Error: {}\r\n", error.what());
    parametersLoaded = false;
    return -1;
  }
  // The node loader reports its own failures; the file itself was readable.
  function_get_para(*parameters);
  return 0;
}

int ServoGripper::Impl::function_get_para(unsigned int motor_number, std::string& path) {
  std::optional<YAML::Node> parameters;
  try {
    YAML::Node root = YAML::LoadFile(path);
    parameters.emplace(root[vorn_io::MotorSectionKey(motor_number)]);
  } catch (const YAML::Exception& error) {
    LOG_ERROR("YAML Error: {}\r\n", error.what());
    parametersLoaded = false;
    return -1;
  }
  function_get_para(*parameters);
  return 0;
}
