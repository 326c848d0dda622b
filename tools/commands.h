#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/load.h"

// The commands of `vorn-io`, and how a reader's account reads in words.
namespace vorn_io::tool {

/// What `vorn-io lifter` and `vorn-io gripper` are asked to do.
struct MoveRequest {
  std::string file;
  Selector selector;
  std::optional<int> to;       ///< the commanded state; the gripper may go without
  std::optional<int> initial;  ///< lifter only: the state it is declared to start in
  std::optional<double> timeout_seconds;
  bool show_progress = true;  ///< off with --quiet or --no-progress
  bool library_lines = true;  ///< the library's lines on standard output (SPDLOG_STDOUT)
};

/// Builds a lifter, moves it and waits for the move to end. Returns an exit code.
int RunLifter(const MoveRequest& request);

/// Builds a servo gripper, commands it (or not) and waits for its motion to
/// settle. Returns an exit code.
int RunGripper(const MoveRequest& request);

/// `vorn-io check`: prints the readers' account of every description in
/// each file ("-": standard input), as plain lines or as one JSON document.
/// Returns the worst exit code among the files: 0 clean, 1 flagged, 2 an
/// error (a file that cannot be read or selected from counts as one).
int RunCheck(const std::vector<std::string>& paths, const Selector& selector, bool json);

/// `vorn-io keys`: the three key tables as the Markdown of README.md's
/// configuration reference (which is generated from it), or as aligned text.
std::string KeysText(bool markdown);

/// `vorn-io --sim <command>` and `vorn-io sim -- PROGRAM [ARGS...]`. The
/// installed launcher preloads the simulation for both; here the tool makes
/// sure it runs on it, and starts the program on it.
struct SimulationOptions {
  bool on_simulation = false;
  CLI::App* command = nullptr;
  std::vector<std::string> program;
};

/// Registers `--sim` and the `sim` command.
void AddSimulationOptions(CLI::App& app, SimulationOptions& options);

/// After parsing: nothing to go on with the command, or the exit code to end
/// with. Refuses either form unless the loaded motor-driver library is the
/// simulation; `sim` returns only when the program could not be started.
std::optional<int> HandleSimulation(const SimulationOptions& options);

/// `text` with its control characters (below 0x20, and 0x7f) escaped as
/// \n, \t, \r or \xNN, so a value cannot break or fake a line.
std::string Escaped(std::string_view text);

/// "lifter with a damiao motor", "lifter without a motor".
std::string LifterDevice(const LifterReading& reading);

/// How long a move of the lifter takes, in seconds; 0 when it never ends.
double MoveSeconds(const LifterReading& reading);

/// Prints each flagged key of `account` as a note on standard error, so a
/// person running a move learns what `vorn-io check` would tell them.
void PrintNotes(const std::string& file, const DescriptionAccount& account);

/// Prints the keys the device cannot be built from; returns the exit code for them.
int ReportErrors(const std::string& file, const DescriptionAccount& account);

}  // namespace vorn_io::tool
