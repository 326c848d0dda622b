#pragma once

#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include "vorn_io/description.h"
#include "vorn_io/description_file.h"

// The commands of `vorn-io`, how they read a description, and how a reader's
// account reads in words.
namespace vorn_io::tool {

/// A description that cannot be read or used; the message names the file.
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// "vorn-io: " and the text, as a line.
template <typename... Args>
std::string Line(fmt::format_string<Args...> format, Args&&... args) {
  return "vorn-io: " + fmt::format(format, std::forward<Args>(args)...) + "\n";
}

/// A line on standard error outside a move's session. Never throws: a closed standard error loses it.
template <typename... Args>
void Warn(fmt::format_string<Args...> format, Args&&... args) {
  std::fputs(Line(format, std::forward<Args>(args)...).c_str(), stderr);
}

/// What went wrong with `file`: a `ConfigError` names its file itself; `std::bad_alloc` is out of memory.
inline std::string Failure(const std::exception& error, const std::string& file) {
  const bool named = dynamic_cast<const ConfigError*>(&error) != nullptr;
  return named
             ? error.what()
             : file + ": " + (dynamic_cast<const std::bad_alloc*>(&error) != nullptr ? "out of memory" : error.what());
}

inline std::string FileName(const std::string& path) { return path == "-" ? std::string("<stdin>") : path; }

/// Reads `path` with the library's reader; a file that cannot be read or
/// parsed is a `ConfigError` with a message a person can act on.
DescriptionFile LoadDescription(const std::string& path);

/// `account` with the findings about `file` itself after its keys.
DescriptionAccount Noted(const DescriptionFile& file, DescriptionAccount account);

enum class Device { kLifter, kGripper };

struct Selector {
  std::optional<std::string> node_path;  ///< "a/b" selects root["a"]["b"]
  std::optional<unsigned> motor;         ///< section feetechmotorN of a motor file
  std::optional<Device> as;              ///< --as: the device, whatever the keys say
};

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

/// A --motor section that is not in the file is a `ConfigError` listing those there are.
GripperSelection ReadGripper(const Selection& selection, const std::string& file_name);

struct MoveRequest {
  std::string file;
  Selector selector;
  std::optional<int> to;       ///< the commanded state; the gripper may go without
  std::optional<int> initial;  ///< lifter only: the state it is declared to start in
  std::optional<double> timeout_seconds;
  bool show_progress = true;  ///< off with --quiet or --no-progress
  bool library_lines = true;  ///< the library's lines on standard output (SPDLOG_STDOUT)
  std::string trace_file;     ///< --trace: the move's trace as CSV, however the run ends
  bool json = false;          ///< --json: the outcome as one JSON document, the tool's lines on standard error
};

/// The move commands; they return the exit code.
int RunLifter(const MoveRequest& request);
int RunGripper(const MoveRequest& request);

/// `vorn-io check`: returns the worst of the files: 0 clean, 1 flagged, 2 an error.
int RunCheck(const std::vector<std::string>& paths, const Selector& selector, bool json);

/// `vorn-io keys`: the key tables as the Markdown of README.md's reference, or as aligned text.
std::string KeysText(bool markdown);

/// `vorn-io --sim <command>` (`on_simulation`) and `vorn-io sim -- PROGRAM [ARGS...]` (a `program`), after parsing:
/// nothing to go on with the command, or the exit code to end with; `sim` returns only when the program could not
/// be started.
std::optional<int> HandleSimulation(bool on_simulation, const std::vector<std::string>& program);

/// `text` with its control characters escaped (\n, \t, \r, \xNN), so a value cannot break or fake a line.
std::string Escaped(std::string_view text);
std::string LifterDevice(const LifterReading& reading);
double MoveSeconds(const LifterReading& reading);

}  // namespace vorn_io::tool
