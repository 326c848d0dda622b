#include "tools/commands.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <fmt/format.h>

#include "tools/exit_codes.h"
#include "tools/motor_driver.h"

namespace vorn_io::tool {
namespace {

/// The file execvp would run for `name`, or empty.
std::string ResolveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    return name;
  }
  const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe)
  std::istringstream dirs(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

/// Why the loader would run `program` without LD_PRELOAD (a secure-execution
/// program), or empty.
const char* IgnoresPreload(const std::string& program) {
  struct stat info {};
  if (stat(program.c_str(), &info) != 0) {
    return nullptr;  // exec reports it
  }
  if ((info.st_mode & (S_ISUID | S_ISGID)) != 0) {
    return "is set-user-ID or set-group-ID";
  }
  return getxattr(program.c_str(), "security.capability", nullptr, 0) > 0 ? "has file capabilities" : nullptr;
}

int RunOnSimulation(const std::string& simulation, const std::vector<std::string>& command) {
  const std::string program = ResolveProgram(command.front());
  if (program.empty()) {
    Warn("sim: {}: command not found", command.front());
    return kBadConfig;
  }
  if (const char* reason = IgnoresPreload(program)) {
    Warn("sim: {} {}: the loader ignores LD_PRELOAD for it, so it would not run on the simulation; refused", program,
         reason);
    return kBadConfig;
  }
  // A preload wins over the program's own RPATH or RUNPATH to a vendor's
  // driver, and over the loader's cache; LD_LIBRARY_PATH would not.
  std::string preload = simulation;
  const char* earlier = std::getenv("LD_PRELOAD");  // NOLINT(concurrency-mt-unsafe)
  if (earlier != nullptr && *earlier != '\0' && simulation != earlier &&
      std::string(earlier).rfind(simulation + ":", 0) != 0) {
    preload += ":" + std::string(earlier);
  }
  setenv("LD_PRELOAD", preload.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
  std::vector<char*> argv;
  for (const std::string& arg : command) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  std::fflush(stdout);
  execv(program.c_str(), argv.data());
  Warn("sim: cannot run {}: {}", program, std::strerror(errno));  // NOLINT(concurrency-mt-unsafe)
  return kBadConfig;
}

}  // namespace

void AddSimulationOptions(CLI::App& app, SimulationOptions& options) {
  app.add_flag("--sim", options.on_simulation,
               "run the command on the simulated motors (the stand-in libvorn_motor.so.1); give it before the command");
  options.command = app.add_subcommand("sim", "run PROGRAM [ARGS...] on the simulated motors: vorn-io sim -- PROGRAM");
  options.command->add_option("PROGRAM", options.program, "the program and its arguments, after --")->required();
}

std::optional<int> HandleSimulation(const SimulationOptions& options) {
  const bool command = options.command != nullptr && options.command->parsed();
  if (!options.on_simulation && !command) {
    return std::nullopt;
  }
  const MotorDriver driver = LoadedMotorDriver();
  if (!driver.simulated) {
    Warn(
        "{}: the motor-driver library loaded is {}, not the simulation; run the vorn-io of the bin folder, which "
        "preloads it",
        command ? "sim" : "--sim", driver.path.empty() ? std::string("none") : driver.path);
    return kBadConfig;
  }
  if (!command) {
    return std::nullopt;
  }
  char resolved[PATH_MAX];
  const std::string simulation =
      driver.path[0] == '/' || realpath(driver.path.c_str(), resolved) == nullptr ? driver.path : resolved;
  if (simulation.find_first_of(": ") != std::string::npos) {
    Warn("sim: {} cannot be preloaded: its path holds a space or a colon", simulation);
    return kBadConfig;
  }
  return RunOnSimulation(simulation, options.program);
}

}  // namespace vorn_io::tool
