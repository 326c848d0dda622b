#pragma once

#include <cctype>
#include <memory>
#include <string>

#include <yaml-cpp/yaml.h>

#include "vorn_io/logger.h"
#include "vorn_motor/damiao_motor.h"
#include "vorn_motor/feetech_motor.h"
#include "vorn_motor/motor_interface.h"

/// Creates the motor that a device description names by its "vendor" key
/// ("damiao" or "feetech", in any case), from the motor keys of the same map.
/// Returns an empty pointer for a null node, a missing vendor or another
/// vendor. yaml-cpp's exceptions for unconvertible keys without a fallback,
/// and the motor constructors' exceptions, pass to the caller.
///
/// The motor-driver interface stands on its own, so the keys and their
/// defaults are written out here; `vorn_io::ReadMotorDescription` reads the
/// same keys from the library's key table, and a test keeps the two in
/// agreement.
inline std::shared_ptr<MotorInterface> MotorAllocate(const YAML::Node& node) {
  if (node.IsNull()) {
    return {};
  }
  if (!node["vendor"]) {
    LOG_ERROR("Must specify motor vendor name!!!\r\n");
    return {};
  }
  auto vendor = node["vendor"].as<std::string>();
  for (char& c : vendor) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  LOG_INFO("Allocate Motor: {}", vendor);

  int id = 0;
  std::string dev_name;
  bool inverse = false;
  if (node["id"]) {
    id = node["id"].as<int>();
  }
  if (node["dev_name"]) {
    dev_name = node["dev_name"].as<std::string>();
  }
  if (node["inverse"]) {
    inverse = node["inverse"].as<bool>(false);
  }
  // The ids travel to the motor with their bits unchanged.
  const auto unsigned_id = static_cast<unsigned int>(id);

  if (vendor == "damiao") {
    int mode = 0;
    int master_id = 0;
    float kp = 15.0F;
    float kd = 1.0F;
    int motor_model = 4340;
    if (node["mode"]) {
      mode = node["mode"].as<int>();
    }
    if (node["master_id"]) {
      master_id = node["master_id"].as<int>();
    }
    if (node["kp"]) {
      kp = node["kp"].as<float>(15.0F);
    }
    if (node["kd"]) {
      kd = node["kd"].as<float>(1.0F);
    }
    if (node["motor_model"]) {
      motor_model = node["motor_model"].as<int>(4340);
    }
    const auto unsigned_master_id = static_cast<unsigned int>(master_id);
    LOG_INFO("id: {:#X}; master_id: {:#X}; mode: {}; strdev: {}, inverse: {}\r\n", unsigned_id, unsigned_master_id,
             mode, dev_name, inverse);
    LOG_INFO("motor_model: {}\r\n", motor_model);
    return std::make_shared<damiaoMotor>(motor_model, unsigned_id, static_cast<unsigned int>(mode), unsigned_master_id,
                                         dev_name, inverse, kp, kd);
  }
  if (vendor == "feetech") {
    int baudrate = 115200;
    if (node["baudrate"]) {
      baudrate = node["baudrate"].as<int>(115200);
    }
    LOG_INFO("id: {:#X}; baud: {}; device name: {}; inverse: {}\r\n", unsigned_id, baudrate, dev_name, inverse);
    return std::make_shared<feetechMotor>(unsigned_id, static_cast<unsigned int>(baudrate), dev_name, inverse);
  }
  return {};
}
