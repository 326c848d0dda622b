#pragma once

#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

namespace vorn_io::tool {

/// Where the value a device uses for a key comes from.
enum class Origin {
  kFile,      ///< read from the description as written
  kDefault,   ///< the key is absent; the device's default
  kFallback,  ///< the value could not be read and was silently replaced by the fallback
  kReplaced,  ///< read, then replaced by one of the device's rules (freq 0, maxpos 600, ...)
  kUnknown,   ///< a key no device reads: a typo, most likely
  kIgnored,   ///< a known key this device does not read (another vendor's)
  kMissing,   ///< an absent key the device cannot do without; it is built, but crippled
  kError,     ///< the device cannot be built from this value (yaml-cpp's exception)
  kNotRead,   ///< never reached: the load stopped at an error above
};

struct Finding {
  std::string key;
  std::string value;  ///< what the device uses, as text; empty when nothing
  Origin origin = Origin::kFile;
  std::string detail;  ///< why, for everything but kFile and kDefault

  /// Worth a person's attention: anything but a value from the file or a
  /// default (and the keys an error above kept from being read).
  [[nodiscard]] bool Flagged() const {
    return origin != Origin::kFile && origin != Origin::kDefault && origin != Origin::kNotRead;
  }
};

/// The lifter's motion parameters as the lifter ends up using them.
struct LifterMotion {
  float maxpos = 0;
  unsigned freq = 0;
  float speed = 0;
  bool has_motor = false;

  /// Ticks from the command to the end of the move, and their period.
  [[nodiscard]] unsigned long long Ticks() const;
  [[nodiscard]] double PeriodMs() const;
  [[nodiscard]] double Seconds() const;
};

struct Explanation {
  std::string device;  ///< "lifter with a damiao motor", "gripper"
  std::vector<Finding> findings;
  LifterMotion motion;  ///< lifters only

  [[nodiscard]] bool HasError() const;
  [[nodiscard]] std::size_t FlaggedCount() const;
};

/// Reads a lifter description key by key through the key tables, with the
/// conversions and rules of `UpdownLifter` and `MotorAllocate`.
Explanation ExplainLifter(const YAML::Node& node);

/// Reads a gripper parameter map through the key table, as
/// `ServoGripper::function_get_para` does.
Explanation ExplainGripper(const YAML::Node& node);

}  // namespace vorn_io::tool
