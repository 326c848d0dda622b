#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

// `vorn-io --sim <command>` and `vorn-io sim -- PROGRAM [ARGS...]`. The
// installed launcher preloads the simulation for both; here the tool makes
// sure it runs on it, and starts the program on it.
namespace vorn_io::tool {

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
