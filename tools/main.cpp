// vorn-io: drives one vorn_io device from the command line, checks device
// descriptions and prints the key tables.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <system_error>

#include <CLI/CLI.hpp>

#include "tools/commands.h"
#include "tools/exit_codes.h"
#include "tools/motor_driver.h"
#include "vorn_io/logger.h"
#include "vorn_io/version.h"

namespace vorn_io::tool {
namespace {

// Follows the exit codes in --help.
constexpr const char* kEnvironment =
    "\nEnvironment:\n"
    "  SPDLOG_STDOUT    true: the library's lines on standard output; false: none (default true)\n"
    "  SPDLOG_SYSTEMD   true: one systemd journal entry per line; false: none (default false)\n"
    "  SPDLOG_LEVEL     trace, debug, info, warning, error, critical (default info);\n"
    "                   --log-level and --quiet win over it\n"
    "  VORN_MOTOR_SIM_QUIET=1         the simulated motors print no banner\n"
    "  VORN_MOTOR_SIM_OBSTACLE        an obstacle at this position (0 or more blocks travel above it)\n"
    "  VORN_MOTOR_SIM_MAX_SPEED       the highest travel speed, position units per second\n"
    "  VORN_MOTOR_SIM_NOISE           each position reading is off by up to this much\n"
    "  VORN_MOTOR_SIM_SEED            the seed of the noise\n"
    "  VORN_MOTOR_SIM_FAIL, _THROW, _HANG  these motor operations fail, throw or hang; name@N spares N\n"
    "  Each VORN_MOTOR_SIM_ variable also exists per vendor (VORN_MOTOR_SIM_DAMIAO_..., _FEETECH_...),\n"
    "  which takes precedence.\n";

/// `code`, unless what was printed did not reach standard output: `error`
/// (an errno value) or stdio's says why.
int CheckedOutput(int code, int error = 0) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
    return code;
  }
  Warn("cannot write to standard output: {}", std::strerror(error != 0 ? error : errno));  // NOLINT
  return kOutputFailed;
}

/// Adds FILE (to `file`), --node, --as (one of `kinds`) and --motor (but for a lifter).
template <typename File>
void AddDescription(CLI::App& command, Selector& selector, std::string& as, File& file, const std::string& file_help,
                    const std::vector<std::string>& kinds) {
  command.add_option("FILE", file, file_help)->required();
  command.add_option("--node", selector.node_path,
                     "use the map under this key (a/b for nested keys) instead of the root");
  command
      .add_option("--as", as,
                  kinds.size() > 1
                      ? "the device the file describes (default: detected)"
                      : "build a " + kinds[0] + " even if the file's keys look like another kind of device")
      ->check(CLI::IsMember(kinds));
  if (kinds[0] != "lifter" || kinds.size() > 1) {
    command.add_option("--motor", selector.motor, "use section feetechmotorN of a motor file");
  }
}

void AddMove(CLI::App& command, MoveRequest& move, const std::string& to_help, const std::string& timeout_help) {
  command.add_option("--to", move.to, to_help)->check(CLI::IsMember({0, 1}));
  const auto seconds = [](const std::string& text) {
    double value = 0.0;
    const bool usable = CLI::detail::lexical_cast(text, value) && std::isfinite(value) && value > 0.0;
    return usable ? std::string() : "must be a finite number of seconds above 0: " + text;
  };
  command.add_option("--timeout", move.timeout_seconds, "give up after this many seconds (" + timeout_help + ")")
      ->check(CLI::Validator(seconds, "SECONDS"));
  command.add_option("--trace", move.trace_file, "write the move's trace to this CSV file, however the run ends");
  command.add_flag("--json", move.json, "print the outcome as one JSON document (other lines on standard error)");
}

int Main(int argc, char** argv) {
  // A closed standard output or error (`>&- 2>&-`) gets a descriptor that
  // fails every write, so that no file the tool opens takes its number.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) {
      static_cast<void>(open("/", O_RDONLY | O_DIRECTORY));  // NOLINT(android-cloexec-open): it stays
    }
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // check's results and errors in their order

  MoveRequest move;
  std::vector<std::string> files;  // check's
  std::string as;
  std::string log_level;
  bool markdown = false;
  bool quiet = false;
  bool no_progress = false;
  CLI::App app{"vorn-io: move, check and explain vorn_io devices (lifters and servo grippers)", "vorn-io"};
  app.require_subcommand(1);
  std::string footer = "Exit codes:\n";
  for (const ExitCodeMeaning& row : kExitCodes) {
    footer += fmt::format("  {:<4} {}\n", row.code, row.meaning);
  }
  app.footer(footer + kSignalExitCodes + kEnvironment);
  app.set_version_flag("--version", get_version_str());
  app.set_help_all_flag("--help-all", "print this help and every command's options (as the manual page does)");
  app.fallthrough();  // the tool's own options may follow the command: `vorn-io lifter FILE --to 1 -q`
  app.add_flag("-q,--quiet", quiet, "no progress, and only the library's warnings and errors");
  app.add_option("--log-level", log_level, "the library's log level for this run (wins over SPDLOG_LEVEL)")
      ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error", "critical", "off"}));
  app.add_flag("--no-progress", no_progress, "no progress bar or progress lines");
  bool on_simulation = false;
  app.add_flag("--sim", on_simulation,
               "run the command on the simulated motors (the stand-in libvorn_motor.so.1); give it before the command");
  std::vector<std::string> program;  // sim's
  app.add_subcommand("sim", "run PROGRAM [ARGS...] on the simulated motors: vorn-io sim -- PROGRAM")
      ->add_option("PROGRAM", program, "the program and its arguments, after --")
      ->required();

  CLI::App* version =
      app.add_subcommand("version", "print the library's version line and the motor-driver library loaded");
  CLI::App* lifter = app.add_subcommand("lifter", "build a lifter from a description, move it and wait for the move");
  AddDescription(*lifter, move.selector, as, move.file,
                 "lifter description (YAML map with the lifter's and its motor's keys)", {"lifter"});
  AddMove(*lifter, move, "the state to move to", "default: 1.5 times the move's length plus 5 s");
  lifter->get_option("--to")->required();
  lifter->add_option("--initial", move.initial, "declare the state the lifter starts in (default 0)")
      ->check(CLI::IsMember({0, 1}));
  CLI::App* gripper =
      app.add_subcommand("gripper", "build a servo gripper, command it and wait until its motion has settled");
  AddDescription(*gripper, move.selector, as, move.file,
                 "gripper file (root key \"gripper\") or motor file (sections feetechmotorN)", {"gripper"});
  AddMove(*gripper, move, "0 opens, 1 closes; without it, waits for the start-up move", "default: 90 s");
  CLI::App* check = app.add_subcommand(
      "check", "explain descriptions key by key without creating a motor; exit 1 if anything is flagged");
  AddDescription(*check, move.selector, as, files, "lifter, gripper or motor files (-: standard input)",
                 {"lifter", "gripper"});
  check->add_flag("--json", move.json, "print one JSON document instead of lines");
  CLI::App* keys = app.add_subcommand("keys", "print every configuration key with its type, default and fallback");
  keys->add_flag("--markdown", markdown, "as the Markdown tables of README.md");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const std::vector<std::string> rest = app.remaining();
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && app.get_subcommands().empty() && !rest.empty() &&
        rest.front().rfind('-', 0) != 0) {
      std::vector<std::string> commands;
      for (const CLI::App* command : app.get_subcommands({})) {
        commands.push_back(command->get_name());
      }
      Warn("unknown command \"{}\" (the commands: {}); see --help", rest.front(), fmt::join(commands, ", "));
      return kBadConfig;
    }
    return app.exit(error) == 0 ? CheckedOutput(kDone) : kBadConfig;
  }
  // The library's own console output is off for the run: the move commands
  // print its lines themselves, and nothing else may reach standard output
  // besides a command's results. Configured before its first line, the logger
  // says nothing about variables left unset.
  quorvane::LogSettings settings{false, std::nullopt, std::nullopt};
  if (!log_level.empty() || quiet) {
    settings.level = spdlog::level::from_str(log_level.empty() ? "warn" : log_level);
  }
  move.library_lines = quorvane::Logger::Configure(settings).console.value_or(true) && !move.json;
  move.show_progress = !quiet && !no_progress && !move.json;
  if (!as.empty()) {
    move.selector.as = as == "lifter" ? Device::kLifter : Device::kGripper;
  }
  try {
    if (const std::optional<int> code = HandleSimulation(on_simulation, program)) {
      return *code;
    }
    // A write to a terminal that stops background writers (`stty tostop`)
    // goes through instead of stopping the tool, perhaps mid-move; the
    // lifter's thread, created later, inherits the mask.
    sigset_t ttou;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, nullptr);
    if (version->parsed()) {
      const MotorDriver driver = LoadedMotorDriver();
      fmt::print("{}\nmotor-driver library: {}\n", get_version_str(),
                 driver.path.empty() ? fmt::format("no {} loaded", kMotorDriverSoname)
                 : driver.simulated  ? driver.path + " (the simulation: no hardware moves)"
                                     : driver.path + " (not the simulation)");
    } else if (keys->parsed()) {
      fmt::print("{}", KeysText(markdown));
    }
    return CheckedOutput(check->parsed()     ? RunCheck(files, move.selector, move.json)
                         : lifter->parsed()  ? RunLifter(move)
                         : gripper->parsed() ? RunGripper(move)
                                             : kDone);
  } catch (const std::exception& error) {
    // fmt's failed write to standard output; anything else is about the file.
    const auto* output = dynamic_cast<const std::system_error*>(&error);
    if (output != nullptr && std::ferror(stdout) != 0) {
      return CheckedOutput(kBadConfig, output->code().value());
    }
    std::fflush(stdout);
    Warn("{}", Failure(error, FileName(move.file)));
    return kBadConfig;
  }
}

}  // namespace
}  // namespace vorn_io::tool

int main(int argc, char** argv) {
  try {
    return vorn_io::tool::Main(argc, argv);
  } catch (...) {
    // Nothing may end the tool with an abort; the device, if any, is gone by now.
    std::fputs("vorn-io: unexpected error\n", stderr);
    return vorn_io::tool::kBadConfig;
  }
}
