#pragma once

#include <cstddef>

/// The configuration keys of every vorn_io device, in the order they are read.
///
/// The description readers (vorn_io/description.h) read with these tables,
/// the devices are built from what the readers read, and `vorn-io check`
/// prints the readers' account: the three cannot disagree. A host may use
/// the tables to document its own robot descriptions.
namespace vorn_io::keys {

/// How a key's value is converted (yaml-cpp's conversion of that type).
enum class Type { kInt, kUnsigned, kFloat, kDouble, kBool, kString };

/// What an absent key leads to.
enum class Absent {
  kDefault,  ///< the device keeps `absent_value`
  kError,    ///< a loader error: the load stops there
  kNoMotor,  ///< an error line, and the device gets no motor
};

struct ConfigKey {
  const char* name;
  Type type;
  /// An unreadable value silently becomes `fallback`; without one it raises
  /// yaml-cpp's conversion error.
  bool has_fallback;
  double fallback;
  Absent when_absent;
  double absent_value;
  /// "damiao" or "feetech" for a motor key of one vendor only; else empty.
  const char* vendor;
  const char* meaning;
};

template <typename T>
constexpr T FallbackOf(const ConfigKey& key) {
  return static_cast<T>(key.fallback);
}

template <typename T>
constexpr T AbsentValueOf(const ConfigKey& key) {
  return static_cast<T>(key.absent_value);
}

/// The lifter's own keys (`UpdownLifter`), read before its motor's.
namespace lifter {
inline constexpr ConfigKey kId{"id", Type::kInt, false, 0, Absent::kDefault, 0, "", "motor id, for the start-up line"};
inline constexpr ConfigKey kDevName{
    "dev_name", Type::kString, false, 0, Absent::kDefault, 0, "", "bus device name, for the start-up line"};
inline constexpr ConfigKey kMode{"mode",           Type::kInt, false, 0,
                                 Absent::kDefault, 0,          "",    "motor mode, for the start-up line"};
inline constexpr ConfigKey kMasterId{"master_id",      Type::kInt, false, 0,
                                     Absent::kDefault, 0,          "",    "motor master id, for the start-up line"};
inline constexpr ConfigKey kMaxpos{"maxpos",
                                   Type::kFloat,
                                   true,
                                   450.0,
                                   Absent::kDefault,
                                   450.0,
                                   "",
                                   "travel of one move in motor position units; negative taken as positive, "
                                   "otherwise at most 480"};
inline constexpr ConfigKey kFreq{"freq",
                                 Type::kUnsigned,
                                 true,
                                 10,
                                 Absent::kDefault,
                                 10,
                                 "",
                                 "tick frequency of the ramp in Hz; the tick interval is 1000 / freq ms"};
inline constexpr ConfigKey kSpeed{"speed",
                                  Type::kFloat,
                                  true,
                                  3.14,
                                  Absent::kDefault,
                                  static_cast<double>(1.5707964F),
                                  "",
                                  "ramp speed in position units per second"};
inline constexpr ConfigKey kThreadPriority{"thread_priority",
                                           Type::kInt,
                                           true,
                                           0,
                                           Absent::kDefault,
                                           0,
                                           "",
                                           "real-time priority of the lifter's thread: 0 normal scheduling, 1 to 99 "
                                           "SCHED_FIFO at that priority; any other value runs at 0"};
inline constexpr const ConfigKey* kAll[] = {&kId,     &kDevName, &kMode,  &kMasterId,
                                            &kMaxpos, &kFreq,    &kSpeed, &kThreadPriority};
}  // namespace lifter

/// The motor's keys, read by `MotorAllocate` from the same map as the lifter's.
namespace motor {
inline constexpr ConfigKey kVendor{
    "vendor", Type::kString, false, 0, Absent::kNoMotor, 0, "", "motor vendor, \"damiao\" or \"feetech\" in any case"};
inline constexpr ConfigKey kId{"id", Type::kInt, false, 0, Absent::kDefault, 0, "", "motor id on its bus"};
inline constexpr ConfigKey kDevName{"dev_name", Type::kString, false, 0, Absent::kDefault, 0, "", "bus device name"};
inline constexpr ConfigKey kInverse{"inverse",        Type::kBool, true, 0,
                                    Absent::kDefault, 0,           "",   "reverses the motor's direction"};
inline constexpr ConfigKey kMode{"mode", Type::kInt, false, 0, Absent::kDefault, 0, "damiao", "control mode"};
inline constexpr ConfigKey kMasterId{"master_id",      Type::kInt, false,    0,
                                     Absent::kDefault, 0,          "damiao", "id the motor answers with"};
inline constexpr ConfigKey kKp{
    "kp", Type::kFloat, true, 15.0, Absent::kDefault, 15.0, "damiao", "position gain of the motor's own controller"};
inline constexpr ConfigKey kKd{
    "kd", Type::kFloat, true, 1.0, Absent::kDefault, 1.0, "damiao", "damping gain of the motor's own controller"};
inline constexpr ConfigKey kMotorModel{"motor_model",    Type::kInt, true,     4340,
                                       Absent::kDefault, 4340,       "damiao", "motor model number"};
inline constexpr ConfigKey kBaudrate{"baudrate",       Type::kInt, true,      115200,
                                     Absent::kDefault, 115200,     "feetech", "serial baud rate"};
inline constexpr const ConfigKey* kAll[] = {&kVendor,   &kId, &kDevName, &kInverse,    &kMode,
                                            &kMasterId, &kKp, &kKd,      &kMotorModel, &kBaudrate};
}  // namespace motor

/// The servo gripper's parameter keys (`ServoGripper::function_get_para`).
namespace gripper {
inline constexpr ConfigKey kId{"id",           Type::kInt, false, 0,
                               Absent::kError, 0,          "",    "motor id of the servo (stored unsigned)"};
inline constexpr ConfigKey kBaudrate{"baudrate",       Type::kUnsigned, true, 115200,
                                     Absent::kDefault, 115200,          "",   "serial baud rate"};
inline constexpr ConfigKey kDevName{
    "dev_name", Type::kString, false, 0, Absent::kError, 0, "", "bus device name; a null value reads as \"null\""};
inline constexpr ConfigKey kInverse{"inverse",        Type::kBool, true, 1,
                                    Absent::kDefault, 1,           "",   "reverses the servo's direction"};
inline constexpr ConfigKey kP{"p", Type::kDouble, true, 2.0, Absent::kDefault, 2.0, "", "reported only"};
inline constexpr ConfigKey kI{"i", Type::kDouble, true, 0.0, Absent::kDefault, 0.0, "", "reported only"};
inline constexpr ConfigKey kD{"d", Type::kDouble, true, 0.24, Absent::kDefault, 0.24, "", "reported only"};
inline constexpr ConfigKey kLimitLow{"limit_low",      Type::kInt, true, -3400,
                                     Absent::kDefault, -3400,      "",   "reported only"};
inline constexpr ConfigKey kLimitHigh{"limit_high",     Type::kInt, true, 3400,
                                      Absent::kDefault, 3400,       "",   "reported only"};
inline constexpr ConfigKey kTorqueLow{
    "torque_low",     Type::kDouble, true, 100.0,
    Absent::kDefault, 100.0,         "",   "torque limit of the move to status 0 (open, towards -10)"};
inline constexpr ConfigKey kTorqueHigh{
    "torque_high",    Type::kDouble, true, 100.0,
    Absent::kDefault, 100.0,         "",   "torque limit of the move to a non-zero status (close, towards +10)"};
inline constexpr const ConfigKey* kAll[] = {&kId, &kBaudrate, &kDevName,   &kInverse,   &kP,         &kI,
                                            &kD,  &kLimitLow, &kLimitHigh, &kTorqueLow, &kTorqueHigh};

/// Root key of a gripper file, and the section prefix of a motor file.
inline constexpr const char* kGripperFileRoot = "gripper";
inline constexpr const char* kMotorSectionPrefix = "feetechmotor";
}  // namespace gripper

}  // namespace vorn_io::keys
