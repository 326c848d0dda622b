#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

namespace vorn_io::tool {

/// A description that cannot be read or used; the message names the file.
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Reads a YAML file once (a FIFO or a process substitution too) and parses
/// it. A missing file, a directory, an unreadable file or a syntax error
/// becomes a `ConfigError` with a message a person can act on.
YAML::Node LoadYamlFile(const std::string& path);

enum class Kind { kLifter, kGripper };

/// Where in the file the device's keys are, which decides the constructor
/// the device is built with.
enum class Layout {
  kLifterMap,     ///< the root map, or the map under --node
  kGripperFile,   ///< the parameter map under the root key "gripper"
  kMotorFile,     ///< the parameter map under "feetechmotor<N>"
  kParameterMap,  ///< a gripper parameter map at the root or under --node
};

/// One device description inside a file.
struct Target {
  Kind kind = Kind::kLifter;
  Layout layout = Layout::kLifterMap;
  YAML::Node node;
  /// How to name the place in messages: "root map", "key lifter", "section feetechmotor1".
  std::string where;
  /// The motor number of a motor-file section.
  unsigned motor = 0;
};

/// What the command line says about the description.
struct Selector {
  std::optional<std::string> node_path;  ///< "a/b" selects root["a"]["b"]
  std::optional<unsigned> motor;
  std::optional<Kind> kind;
};

/// The descriptions the selector names: one, or, for a motor file read
/// without --motor, every section in file order. Throws `ConfigError` when
/// the selector names nothing in the file or the kind cannot be told.
std::vector<Target> SelectTargets(const YAML::Node& root, const std::string& path, const Selector& selector);

/// The descriptions for a command that builds a `kind`, as `SelectTargets`
/// finds them. Unless the selector names the kind (--as), a file whose keys
/// say it describes the other kind is refused with a `ConfigError` that says
/// what it looks like.
std::vector<Target> SelectTargetsFor(Kind kind, const YAML::Node& root, const std::string& path,
                                     const Selector& selector);

/// What a description's keys say it describes, and which keys say so.
struct KindReading {
  Kind kind = Kind::kLifter;
  std::string evidence;  ///< `a "vendor" key`, `sections feetechmotor1, feetechmotor2`, ...
};

/// A root "gripper" key or "feetechmotor<N>" sections say gripper, a "vendor"
/// key (at the root, or in the map under --node) says lifter; nothing when
/// the keys do not tell. The kind `check` detects without --as.
std::optional<KindReading> ReadKind(const YAML::Node& root, const std::string& path, const Selector& selector);

/// Keys at the root of a gripper or motor file that no device reads.
std::vector<std::string> StrayRootKeys(const YAML::Node& root, const std::vector<Target>& targets);

/// The motor numbers of the "feetechmotor<N>" sections of a root map, in file order.
std::vector<unsigned> MotorSections(const YAML::Node& root);

const char* KindName(Kind kind);

}  // namespace vorn_io::tool
