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
#include <string>

#include "install_layout.h"
#include "tools/exit_codes.h"
#include "tools/motor_driver.h"

namespace {

using vorn_io::tool::kBadConfig;
using vorn_io::tool::kMotorDriverSoname;

struct Paths {
  std::string tool;
  std::string library;
  std::string simulation;
};

bool FindPaths(Paths& paths) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) {
    return false;
  }
  std::string bindir(self, static_cast<std::size_t>(length));
  bindir.erase(bindir.rfind('/'));
  std::string libdir = bindir + "/" + vorn_io::tool::layout::kLibdirFromBindir;
  char resolved[PATH_MAX];
  if (realpath(libdir.c_str(), resolved) != nullptr) {
    libdir = resolved;  // the paths the tool reports read plainly
  }
  paths.tool = bindir + "/" + vorn_io::tool::layout::kToolFromBindir;
  paths.library = libdir + "/libvorn_io.so.1";
  paths.simulation = libdir + "/" + vorn_io::tool::layout::kSimulationDirFromLibdir + "/" + kMotorDriverSoname;
  return true;
}

/// Whether the command line drives no motor: help, the version flag, or the
/// command `keys` or `check` (the first word that is no option nor the
/// value of --log-level).
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

[[noreturn]] void Exec(const Paths& paths, char** argv) {
  std::fflush(stdout);
  execv(paths.tool.c_str(), argv);
  std::fprintf(stderr, "vorn-io: cannot run %s: %s\n", paths.tool.c_str(),
               std::strerror(errno));  // NOLINT(concurrency-mt-unsafe)
  std::exit(kBadConfig);               // NOLINT(concurrency-mt-unsafe)
}

/// Whether the simulation is installed where it belongs; says why not otherwise.
bool SimulationUsable(const Paths& paths, bool report) {
  void* handle = dlopen(paths.simulation.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (report) {
      std::fprintf(stderr, "vorn-io: the simulated motors are not installed (%s); install libvorn-motor-sim\n",
                   dlerror());  // NOLINT(concurrency-mt-unsafe)
    }
    return false;
  }
  const bool simulated = vorn_io::tool::IsSimulation(handle);
  dlclose(handle);
  if (!simulated && report) {
    std::fprintf(stderr, "vorn-io: %s is not the simulation; reinstall libvorn-motor-sim\n", paths.simulation.c_str());
  }
  return simulated;
}

[[noreturn]] void ExecOnSimulation(const Paths& paths, char** argv) {
  // By absolute path, so that it wins over any libvorn_motor.so.1 the loader
  // would find; the tool checks that it did.
  setenv("LD_PRELOAD", paths.simulation.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
  Exec(paths, argv);
}

}  // namespace

int main(int argc, char** argv) {
  Paths paths;
  if (!FindPaths(paths)) {
    std::fprintf(stderr, "vorn-io: cannot tell where vorn-io is installed (/proc/self/exe: %s)\n",
                 std::strerror(errno));  // NOLINT(concurrency-mt-unsafe)
    return kBadConfig;
  }
  if (argc > 1 && (std::strcmp(argv[1], "--sim") == 0 || std::strcmp(argv[1], "sim") == 0)) {
    if (!SimulationUsable(paths, true)) {
      return kBadConfig;
    }
    ExecOnSimulation(paths, argv);
  }
  // The very library the tool will load, with every symbol bound now, so a
  // missing or incomplete motor-driver library shows here and not as the
  // loader's message.
  if (dlopen(paths.library.c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr) {
    Exec(paths, argv);
  }
  const std::string error = dlerror();  // NOLINT(concurrency-mt-unsafe)
  if (DrivesNoMotor(argc, argv) && SimulationUsable(paths, false)) {
    ExecOnSimulation(paths, argv);  // it never creates a motor
  }
  const bool driver_side =
      error.find("libvorn_motor") != std::string::npos ||
      (error.find("undefined symbol") != std::string::npos &&
       (error.find("damiaoMotor") != std::string::npos || error.find("feetechMotor") != std::string::npos ||
        error.find("MotorInterface") != std::string::npos));
  if (driver_side) {
    std::fprintf(stderr,
                 "vorn-io: no usable motor-driver library %s (%s): install the motor vendor's driver where the loader "
                 "finds it, or run on simulated motors with vorn-io --sim <command>\n",
                 kMotorDriverSoname, error.c_str());
  } else {
    std::fprintf(stderr, "vorn-io: cannot load %s\n", error.c_str());
  }
  return kBadConfig;
}
