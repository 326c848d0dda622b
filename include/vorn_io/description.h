#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "vorn_io/config_keys.h"
#include "vorn_io/export.h"

/// Reading a device description: the one place that knows how a YAML
/// description becomes a device's settings.
///
/// Each reader returns the typed settings the device is built with, and an
/// account of every key: the value used and where it came from. The devices
/// are built from these readings, and `vorn-io check` prints their accounts,
/// so what a check says is what the device does. Readers write no log line
/// and throw nothing for a bad description: an exception yaml-cpp raises
/// while a key is read is kept in the reading (the device rethrows it), and
/// every key-level error is in the account, not only the first.
namespace vorn_io {

/// Where a key stands in the text it was parsed from, counted from 1.
struct TextPosition {
  int line = 0;
  int column = 0;
};

/// Where the value a device uses for a key comes from.
enum class KeyOrigin {
  kFile,         ///< read from the description as written
  kDefault,      ///< the key is absent; the device's default
  kFallback,     ///< the value could not be read and was silently replaced by the key's fallback
  kReplaced,     ///< read, then replaced by a rule of the device ("freq: 0" runs at 10, "maxpos: 600" at 480)
  kSuspect,      ///< used as written, but the device will not work as meant (a zero baud rate, ...)
  kOtherVendor,  ///< a known key the device does not read: another vendor's, or a motor's with no motor
  kUnknown,      ///< no device reads this key
  kDuplicate,    ///< a second occurrence of a key; yaml-cpp keeps the first
  kMissing,      ///< the device is built without what this key should give (no motor, a ramp that never ends)
  kError,        ///< the device cannot be built from this value (yaml-cpp raises an exception for it), or
                 ///< cannot move with it (a lifter whose first ramp step passes its travel refuses every move)
};

/// Short lower-case name of an origin: "file", "default", "fallback", ...
VORN_IO_EXPORT const char* OriginName(KeyOrigin origin);

/// One key of a description, as the device reads it.
struct KeyAccount {
  std::string key;
  /// The value the device uses, as text (control characters unescaped);
  /// empty when it uses none.
  std::string value;
  KeyOrigin origin = KeyOrigin::kFile;
  /// Of the key in the text; none for an absent key or a node a host built in code.
  std::optional<TextPosition> position;
  /// Why, in words, for every origin but kFile and kDefault.
  std::string detail;

  /// Worth a person's attention: anything but a value from the file or a default.
  [[nodiscard]] bool Flagged() const { return origin != KeyOrigin::kFile && origin != KeyOrigin::kDefault; }
};

/// Every key of one description, in reading order, then the keys no device
/// reads and the duplicates, in file order.
struct VORN_IO_EXPORT DescriptionAccount {
  std::vector<KeyAccount> keys;

  [[nodiscard]] bool HasError() const;
  [[nodiscard]] std::size_t FlaggedCount() const;
  /// The first entry for `key`, or null.
  [[nodiscard]] const KeyAccount* Find(std::string_view key) const;
};

/// The lifter's own settings (`UpdownLifter`); an absent key keeps its default.
struct LifterSettings {
  int id = keys::AbsentValueOf<int>(keys::lifter::kId);
  std::string dev_name;
  int mode = keys::AbsentValueOf<int>(keys::lifter::kMode);
  int master_id = keys::AbsentValueOf<int>(keys::lifter::kMasterId);
  float maxpos = keys::AbsentValueOf<float>(keys::lifter::kMaxpos);
  unsigned int freq = keys::AbsentValueOf<unsigned int>(keys::lifter::kFreq);
  float speed = keys::AbsentValueOf<float>(keys::lifter::kSpeed);
  int thread_priority = keys::AbsentValueOf<int>(keys::lifter::kThreadPriority);
};

/// The motor vendors `MotorAllocate` makes a motor for.
enum class MotorVendor { kNone, kDamiao, kFeetech };

/// The motor's settings, as `MotorAllocate` creates the motor with them.
struct MotorSettings {
  MotorVendor vendor = MotorVendor::kNone;
  /// The "vendor" value lower-cased, as the allocation line shows it.
  std::string vendor_name;
  int id = keys::AbsentValueOf<int>(keys::motor::kId);
  std::string dev_name;
  bool inverse = keys::AbsentValueOf<bool>(keys::motor::kInverse);
  int mode = keys::AbsentValueOf<int>(keys::motor::kMode);
  int master_id = keys::AbsentValueOf<int>(keys::motor::kMasterId);
  float kp = keys::AbsentValueOf<float>(keys::motor::kKp);
  float kd = keys::AbsentValueOf<float>(keys::motor::kKd);
  int motor_model = keys::AbsentValueOf<int>(keys::motor::kMotorModel);
  int baudrate = keys::AbsentValueOf<int>(keys::motor::kBaudrate);
};

/// A motor description: the motor keys of a lifter's map.
struct MotorReading {
  MotorSettings settings;
  /// The first exception yaml-cpp raised for a motor key; the allocation
  /// raises the same one.
  std::exception_ptr error;
  DescriptionAccount account;
};

/// Reads the motor keys of `node` as `MotorAllocate` does: the vendor's keys
/// only, other vendors' keys accounted as such, any other key as unknown.
VORN_IO_EXPORT MotorReading ReadMotorDescription(const YAML::Node& node);

/// A lifter description: one map with the lifter's keys and its motor's.
struct LifterReading {
  /// After the lifter's replacements, as the lifter runs with them.
  LifterSettings settings;
  /// The first exception yaml-cpp raised for a lifter key: the lifter's
  /// constructor raises it before it allocates a motor.
  std::exception_ptr error;
  /// The value given for each setting the lifter replaced because it would
  /// start a move that never ends; the lifter logs each replacement.
  std::optional<unsigned int> unusable_freq;
  std::optional<float> unusable_maxpos;
  std::optional<float> unusable_speed;
  std::optional<int> unusable_thread_priority;
  /// Ticks of a move from the command to its end (0: the ramp never ends and
  /// the lifter refuses every move), and the period between two ticks.
  unsigned long long move_ticks = 0;
  double tick_period_ms = 0.0;
  /// The motor keys of the same map.
  MotorReading motor;
  /// The whole map: the lifter's keys, the motor's, then keys no device reads.
  DescriptionAccount account;
};

/// Reads a lifter description as `UpdownLifter` and `MotorAllocate` do.
VORN_IO_EXPORT LifterReading ReadLifterDescription(const YAML::Node& node);

/// The servo gripper's parameters (`ServoGripper::function_get_para`).
struct GripperSettings {
  std::uint32_t id = 0;
  std::uint32_t baudrate = keys::AbsentValueOf<unsigned int>(keys::gripper::kBaudrate);
  std::string dev_name;
  bool inverse = false;
  double p = keys::AbsentValueOf<double>(keys::gripper::kP);
  double i = keys::AbsentValueOf<double>(keys::gripper::kI);
  double d = keys::AbsentValueOf<double>(keys::gripper::kD);
  std::int32_t limit_low = keys::AbsentValueOf<int>(keys::gripper::kLimitLow);
  std::int32_t limit_high = keys::AbsentValueOf<int>(keys::gripper::kLimitHigh);
  double torque_low = keys::AbsentValueOf<double>(keys::gripper::kTorqueLow);
  double torque_high = keys::AbsentValueOf<double>(keys::gripper::kTorqueHigh);
};

/// A gripper parameter map.
struct GripperReading {
  /// Each key read up to the first error; the keys after it keep the values
  /// of `before`, as the gripper's members do after a load that stopped.
  GripperSettings settings;
  /// The first exception yaml-cpp raised; the load stops there.
  std::exception_ptr error;
  DescriptionAccount account;
};

/// Reads a gripper parameter map as `ServoGripper::function_get_para` does,
/// over the settings the gripper holds before the load.
VORN_IO_EXPORT GripperReading ReadGripperParameters(const YAML::Node& node, const GripperSettings& before = {});

/// One parameter map of a gripper or motor file.
struct GripperSection {
  /// "gripper", or "feetechmotor<N>".
  std::string key;
  /// N of a motor file's section; 0 in a gripper file.
  unsigned int motor = 0;
  GripperReading reading;
};

/// A gripper file or a motor file.
struct GripperFileReading {
  /// A gripper file's "gripper" entry (read even when it is absent, as the
  /// gripper does), or every "feetechmotor<N>" section of a motor file in
  /// file order.
  std::vector<GripperSection> sections;
  /// The root keys no gripper reads, and duplicates among the root keys.
  DescriptionAccount root;
};

/// Reads a gripper file: the parameter map under the root key "gripper".
VORN_IO_EXPORT GripperFileReading ReadGripperFile(const YAML::Node& root);

/// Reads a motor file: a parameter map under each "feetechmotor<N>" key.
VORN_IO_EXPORT GripperFileReading ReadMotorFile(const YAML::Node& root);

/// The key of motor `motor`'s section in a motor file: "feetechmotor<motor>".
VORN_IO_EXPORT std::string MotorSectionKey(unsigned int motor);

/// What a description describes.
enum class DescriptionKind { kLifter, kGripperFile, kMotorFile, kParameterMap };

/// "lifter", "gripper file", "motor file", "gripper parameter map".
VORN_IO_EXPORT const char* KindName(DescriptionKind kind);

/// A kind, and the keys that tell it.
struct KindEvidence {
  DescriptionKind kind = DescriptionKind::kLifter;
  /// In words: `a root key "gripper"`, `sections feetechmotor1, feetechmotor2`, `a "vendor" key`.
  std::string evidence;
};

/// Tells the kind of a description from its keys: a root "gripper" key
/// makes a gripper file, "feetechmotor<N>" keys a motor file, a "vendor" key
/// a lifter, and a key only a gripper reads ("torque_low", "limit_high", ...)
/// a parameter map. Nothing when the keys do not tell.
VORN_IO_EXPORT std::optional<KindEvidence> TellDescriptionKind(const YAML::Node& root);

/// One parameter map of a gripper description, as the gripper is built from it.
struct GripperPart {
  std::string where;       ///< "root map" (or the caller's name for the map), "key gripper", "section feetechmotor1"
  YAML::Node node;         ///< the parameter map itself
  unsigned int motor = 0;  ///< N of a motor file's section; 0 otherwise
  GripperReading reading;
};

/// The parameter maps of a gripper description of any kind.
struct GripperSelection {
  /// Every map of the description in file order, or only the section asked for.
  std::vector<GripperPart> parts;
  /// The root keys of a gripper or motor file that no gripper reads.
  DescriptionAccount root;
  /// Every motor section of a motor file, in file order.
  std::vector<unsigned int> motors;
};

/// Reads `node` as a gripper description of `kind` (not kLifter): a
/// parameter map, named `where` in its part, a gripper file or a motor file.
/// With `motor`, a motor file's section feetechmotor<motor> only; `parts` is
/// empty when the file has no such section.
VORN_IO_EXPORT GripperSelection ReadGripperSelection(const YAML::Node& node, DescriptionKind kind,
                                                     const std::string& where,
                                                     std::optional<unsigned int> motor = std::nullopt);

}  // namespace vorn_io
