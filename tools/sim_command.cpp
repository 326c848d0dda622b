// `vorn-io --sim <command>` and `vorn-io sim -- PROGRAM [ARGS...]`.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tools/commands.h"
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
/// program), or nothing.
const char* IgnoresPreload(const std::string& program) {
  struct stat info {};
  if (stat(program.c_str(), &info) == 0 && (info.st_mode & (S_ISUID | S_ISGID)) != 0) {
    return "is set-user-ID or set-group-ID";
  }
  return getxattr(program.c_str(), "security.capability", nullptr, 0) > 0 ? "has file capabilities" : nullptr;
}

}  // namespace

std::optional<int> HandleSimulation(bool on_simulation, const std::vector<std::string>& program_args) {
  const bool command = !program_args.empty();
  if (!on_simulation && !command) {
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
  const std::string program = ResolveProgram(program_args.front());
  const char* ignored = program.empty() ? nullptr : IgnoresPreload(program);
  if (program.empty()) {
    Warn("sim: {}: command not found", program_args.front());
  } else if (ignored != nullptr) {
    Warn("sim: {} {}: the loader ignores LD_PRELOAD for it, so it would not run on the simulation; refused", program,
         ignored);
  } else if (simulation.find_first_of(": ") != std::string::npos) {
    Warn("sim: {} cannot be preloaded: its path holds a space or a colon", simulation);
  } else {
    // A preload wins over the program's own RPATH or RUNPATH to a vendor's
    // driver, and over the loader's cache; LD_LIBRARY_PATH would not.
    const char* earlier = std::getenv("LD_PRELOAD");  // NOLINT(concurrency-mt-unsafe)
    const bool keep = earlier != nullptr && *earlier != '\0' && simulation != earlier &&
                      std::string(earlier).rfind(simulation + ":", 0) != 0;
    setenv("LD_PRELOAD", (simulation + (keep ? ":" + std::string(earlier) : "")).c_str(), 1);  // NOLINT
    std::vector<char*> argv;
    for (const std::string& arg : program_args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    Warn("sim: cannot run {}: {}", program, std::strerror(errno));  // NOLINT(concurrency-mt-unsafe)
  }
  return kBadConfig;
}

}  // namespace vorn_io::tool
