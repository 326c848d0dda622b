#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/load.h"

// The commands of `vorn-io` besides `check`.
namespace vorn_io::tool {

/// What `vorn-io lifter` and `vorn-io gripper` are asked to do.
struct MoveRequest {
  std::string file;
  Selector selector;
  std::optional<int> to;       ///< the commanded state; the gripper may go without
  std::optional<int> initial;  ///< lifter only: the state it is declared to start in
  std::optional<double> timeout_seconds;
  bool show_progress = true;  ///< off with --quiet or --no-progress
};

/// Builds a lifter, moves it and waits for the move to end. Returns an exit code.
int RunLifter(const MoveRequest& request);

/// Builds a servo gripper, commands it (or not) and waits for its motion to
/// settle. Returns an exit code.
int RunGripper(const MoveRequest& request);

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

}  // namespace vorn_io::tool
