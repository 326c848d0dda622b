#pragma once

#include <cctype>
#include <memory>
#include <string>

#include <yaml-cpp/yaml.h>

#include "vorn_io/config_keys.h"
#include "vorn_io/logger.h"
#include "vorn_motor/damiao_motor.h"
#include "vorn_motor/feetech_motor.h"
#include "vorn_motor/motor_interface.h"

/// Creates the motor that a device description names by its "vendor" key
/// ("damiao" or "feetech", in any case), from the motor keys of the same map.
/// Returns an empty pointer for a null node, a missing vendor or another
/// vendor. yaml-cpp's exceptions for unconvertible keys without a fallback,
/// and the motor constructors' exceptions, pass to the caller.
inline std::shared_ptr<MotorInterface> MotorAllocate(const YAML::Node& node) {
  namespace key = vorn_io::keys::motor;
  using vorn_io::keys::AbsentValueOf;
  using vorn_io::keys::FallbackOf;

  if (node.IsNull()) {
    return {};
  }
  if (!node[key::kVendor.name]) {
    LOG_ERROR("Must specify motor vendor name!!!\r\n");
    return {};
  }
  std::string vendor = node[key::kVendor.name].as<std::string>();
  for (char& c : vendor) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  LOG_INFO("Allocate Motor: {}", vendor);

  int id = AbsentValueOf<int>(key::kId);
  std::string dev_name;
  bool inverse = AbsentValueOf<bool>(key::kInverse);
  if (node[key::kId.name]) {
    id = node[key::kId.name].as<int>();
  }
  if (node[key::kDevName.name]) {
    dev_name = node[key::kDevName.name].as<std::string>();
  }
  if (node[key::kInverse.name]) {
    inverse = node[key::kInverse.name].as<bool>(FallbackOf<bool>(key::kInverse));
  }
  // The ids travel to the motor with their bits unchanged.
  const auto unsigned_id = static_cast<unsigned int>(id);

  if (vendor == "damiao") {
    int mode = AbsentValueOf<int>(key::kMode);
    int master_id = AbsentValueOf<int>(key::kMasterId);
    float kp = AbsentValueOf<float>(key::kKp);
    float kd = AbsentValueOf<float>(key::kKd);
    int motor_model = AbsentValueOf<int>(key::kMotorModel);
    if (node[key::kMode.name]) {
      mode = node[key::kMode.name].as<int>();
    }
    if (node[key::kMasterId.name]) {
      master_id = node[key::kMasterId.name].as<int>();
    }
    if (node[key::kKp.name]) {
      kp = node[key::kKp.name].as<float>(FallbackOf<float>(key::kKp));
    }
    if (node[key::kKd.name]) {
      kd = node[key::kKd.name].as<float>(FallbackOf<float>(key::kKd));
    }
    if (node[key::kMotorModel.name]) {
      motor_model = node[key::kMotorModel.name].as<int>(FallbackOf<int>(key::kMotorModel));
    }
    const auto unsigned_master_id = static_cast<unsigned int>(master_id);
    LOG_INFO("id: {:#X}; master_id: {:#X}; mode: {}; strdev: {}, inverse: {}\r\n", unsigned_id, unsigned_master_id,
             mode, dev_name, inverse);
    LOG_INFO("motor_model: {}\r\n", motor_model);
    return std::make_shared<damiaoMotor>(motor_model, unsigned_id, static_cast<unsigned int>(mode), unsigned_master_id,
                                         dev_name, inverse, kp, kd);
  }
  if (vendor == "feetech") {
    int baudrate = AbsentValueOf<int>(key::kBaudrate);
    if (node[key::kBaudrate.name]) {
      baudrate = node[key::kBaudrate.name].as<int>(FallbackOf<int>(key::kBaudrate));
    }
    LOG_INFO("id: {:#X}; baud: {}; device name: {}; inverse: {}\r\n", unsigned_id, baudrate, dev_name, inverse);
    return std::make_shared<feetechMotor>(unsigned_id, static_cast<unsigned int>(baudrate), dev_name, inverse);
  }
  return {};
}
