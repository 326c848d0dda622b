#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <yaml-cpp/yaml.h>

#include "vorn_io/description.h"
#include "vorn_io/export.h"

/// A description file, read the way every reader of this library's files
/// reads it: once (a FIFO, a process substitution or standard input gives
/// its text to one reader only), bounded, and parsed into its first YAML
/// document, with what the file itself says that no device reads.
namespace vorn_io {

/// A file larger than this is no description (`/dev/zero`, a log file named
/// by mistake): it is refused unread.
inline constexpr std::size_t kMaxDescriptionBytes = std::size_t{4} << 20U;

struct DescriptionFile {
  std::string name;  ///< the path, or "<stdin>" for "-"
  YAML::Node root;   ///< the first YAML document; null when `error` is set
  /// Empty, or why the file cannot be used, beginning with `name`: it cannot
  /// be opened or read, is a directory, is too large, or is no YAML.
  std::string error;
  /// The `errno` of an open or read that failed, else 0.
  int systemError = 0;
  /// About the file itself, after the keys of any reading: a second YAML
  /// document, which no device reads.
  DescriptionAccount findings;
};

/// Reads and parses the file at `path` ("-": standard input). Throws
/// nothing but `std::bad_alloc`.
VORN_IO_EXPORT DescriptionFile ReadDescriptionFile(const std::string& path);

/// Parses `text`, a description named `name` in messages.
VORN_IO_EXPORT DescriptionFile ParseDescription(const std::string& text, const std::string& name);

/// The map under `path` in `root`: "lifter", or "robot/lifter" for nested
/// keys. Nothing when a key on the way is missing (or its parent is no map);
/// `missing_key` then names that key.
VORN_IO_EXPORT std::optional<YAML::Node> SelectNode(const YAML::Node& root, std::string_view path,
                                                    std::string* missing_key = nullptr);

}  // namespace vorn_io
