// The installed `vorn-io`: starts the tool (in libexec) once the library it
// needs can be loaded, or says in one line why not. The tool itself cannot
// say so: without a motor-driver library the loader refuses to start it.
// Needs neither libvorn_io nor libvorn_motor itself. One thread throughout.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include "install_layout.h"
#include "tools/exit_codes.h"
#include "tools/motor_driver.h"

namespace {

using vorn_io::tool::kBadConfig;
namespace layout = vorn_io::tool::layout;

/// Whether the command line drives no motor: help, the version flag, or the
/// command `keys` or `check` (the first word that is no option nor the value
/// of --log-level).
bool DrivesNoMotor(int argc, char** argv) {
  std::string command;
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "--version") {
      return true;
    }
    if (arg == "--log-level") {
      ++i;
    } else if (command.empty() && arg[0] != '-') {
      command = arg;
    }
  }
  return command == "keys" || command == "check";
}

/// Says why the tool cannot run, in one line; returns the exit code.
int Fail(const std::string& why) {
  std::fprintf(stderr, "vorn-io: %s\n", why.c_str());
  return kBadConfig;
}

/// Runs the tool, on the simulation at `simulation` if given: by absolute
/// path, it wins over any libvorn_motor.so.1 the loader would find, and the
/// tool checks that it did. Returns only if the tool cannot be run.
int Exec(const std::string& tool, char** argv, const std::string& simulation = {}) {
  if (!simulation.empty()) {
    setenv("LD_PRELOAD", simulation.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
  }
  execv(tool.c_str(), argv);
  return Fail("cannot run " + tool + ": " + std::strerror(errno));  // NOLINT(concurrency-mt-unsafe)
}

/// Why the simulation at `path` cannot be used, or nothing.
std::string SimulationUnusable(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    return std::string("the simulated motors are not installed (") + dlerror() + "); install libvorn-motor-sim";
  }
  const bool simulated = vorn_io::tool::IsSimulation(handle);
  dlclose(handle);
  return simulated ? "" : path + " is not the simulation; reinstall libvorn-motor-sim";
}

}  // namespace

int main(int argc, char** argv) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) {
    const std::string why = std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
    return Fail("cannot tell where vorn-io is installed (/proc/self/exe: " + why + ")");
  }
  self[length] = '\0';
  const std::string bindir = std::string(self).erase(std::string(self).rfind('/'));
  std::string libdir = bindir + "/" + layout::kLibdirFromBindir;
  char resolved[PATH_MAX];
  if (realpath(libdir.c_str(), resolved) != nullptr) {
    libdir = resolved;  // the paths the tool reports read plainly
  }
  const std::string tool = bindir + "/" + layout::kToolFromBindir;
  const std::string simulation =
      libdir + "/" + layout::kSimulationDirFromLibdir + "/" + vorn_io::tool::kMotorDriverSoname;
  if (argc > 1 && (std::strcmp(argv[1], "--sim") == 0 || std::strcmp(argv[1], "sim") == 0)) {
    const std::string unusable = SimulationUnusable(simulation);
    return unusable.empty() ? Exec(tool, argv, simulation) : Fail(unusable);
  }
  // The very library the tool will load, with every symbol bound now, so a
  // missing or incomplete motor-driver library shows here and not as the
  // loader's message.
  if (dlopen((libdir + "/libvorn_io.so.1").c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr) {
    return Exec(tool, argv);
  }
  const std::string error = dlerror();  // NOLINT(concurrency-mt-unsafe)
  if (DrivesNoMotor(argc, argv) && SimulationUnusable(simulation).empty()) {
    return Exec(tool, argv, simulation);  // it never creates a motor
  }
  const bool driver =
      std::regex_search(error, std::regex("libvorn_motor|undefined symbol.*(damiaoMotor|feetechMotor|MotorInterface)"));
  return Fail(driver
                  ? std::string("no usable motor-driver library ") + vorn_io::tool::kMotorDriverSoname + " (" + error +
                        "): install the motor vendor's driver where the loader finds it, or run on simulated "
                        "motors with vorn-io --sim <command>"
                  : "cannot load " + error);
}
