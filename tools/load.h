#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "vorn_io/description.h"

namespace vorn_io::tool {

/// A description that cannot be read or used; the message names the file.
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// How messages name the file at `path`: itself, or "<stdin>" for "-".
std::string FileName(const std::string& path);

/// A description file as it was read once.
struct DescriptionFile {
  std::string name;  ///< the path, or "<stdin>" for "-"
  YAML::Node root;
};

/// Reads `path` once ("-": standard input; a FIFO or a process substitution
/// too) and parses it. A missing file, a directory, an unreadable file or a
/// syntax error becomes a `ConfigError` with a message a person can act on.
DescriptionFile LoadDescription(const std::string& path);

enum class Device { kLifter, kGripper };

/// What the command line says about the description.
struct Selector {
  std::optional<std::string> node_path;  ///< "a/b" selects root["a"]["b"]
  std::optional<unsigned> motor;         ///< section feetechmotorN of a motor file
  std::optional<Device> as;              ///< --as: the device, whatever the keys say
};

/// The description the selector names in a file.
struct Selection {
  DescriptionKind kind = DescriptionKind::kLifter;
  YAML::Node node;    ///< the root map, or the map under --node
  std::string where;  ///< "root map", "key a/b"
  std::optional<unsigned> motor;
};

/// Resolves the selector in `file`. For a command that builds `building`, a
/// description whose keys say it is the other device is refused unless --as
/// names it; without either, a description whose kind cannot be told is.
/// Both refusals, and a --node path that is not there, are `ConfigError`s.
Selection Select(const DescriptionFile& file, const Selector& selector, std::optional<Device> building);

/// Reads a gripper selection (see ReadGripperSelection); a --motor section
/// that is not in the file is a `ConfigError` that lists the sections there are.
GripperSelection ReadGripper(const Selection& selection, const std::string& file_name);

}  // namespace vorn_io::tool
