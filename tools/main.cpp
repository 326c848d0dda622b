// vorn-io: drives one vorn_io device from the command line, checks device
// descriptions and prints the key tables.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <fmt/format.h>
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
    "\n"
    "Environment:\n"
    "  SPDLOG_STDOUT    true: the library's lines on standard output; false: none (default true)\n"
    "  SPDLOG_SYSTEMD   true: one systemd journal entry per line; false: none (default false)\n"
    "  SPDLOG_LEVEL     trace, debug, info, warning, error, critical (default info);\n"
    "                   --log-level and --quiet win over it\n"
    "  VORN_MOTOR_SIM_QUIET=1         the simulated motors print no banner\n"
    "  VORN_MOTOR_SIM_OBSTACLE        an obstacle at this position (0 or more blocks travel above it)\n"
    "  VORN_MOTOR_SIM_MAX_SPEED       the highest travel speed, position units per second\n"
    "  VORN_MOTOR_SIM_NOISE           each position reading is off by up to this much\n"
    "  VORN_MOTOR_SIM_SEED            the seed of the noise\n"
    "  VORN_MOTOR_SIM_FAIL, _THROW    these motor operations fail (or throw); name@N spares N calls\n"
    "  Each VORN_MOTOR_SIM_ variable also exists per vendor (VORN_MOTOR_SIM_DAMIAO_..., _FEETECH_...),\n"
    "  which takes precedence.\n";

std::string HelpFooter() {
  std::string text = "Exit codes:\n";
  for (const ExitCodeMeaning& row : kExitCodes) {
    text += fmt::format("  {:<4} {}\n", row.code, row.meaning);
  }
  return text + kSignalExitCodes + kEnvironment;
}

int ReportOutputFailure(const std::string& reason) {
  Warn("cannot write to standard output: {}", reason);
  return kOutputFailed;
}

/// The exit code `code`, unless what was printed did not reach standard output.
int CheckedOutput(int code) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    return ReportOutputFailure(std::strerror(errno));  // NOLINT(concurrency-mt-unsafe)
  }
  return code;
}

struct Options {
  MoveRequest move;
  std::vector<std::string> files;  ///< check's
  std::string node;
  std::string as;
  bool markdown = false;
  bool json = false;
  bool quiet = false;
  bool no_progress = false;
  std::string log_level;
};

void AddNode(CLI::App& command, Options& options) {
  command.add_option("--node", options.node, "use the map under this key (a/b for nested keys) instead of the root");
}

void AddAs(CLI::App& command, Options& options, const char* kind) {
  command
      .add_option("--as", options.as,
                  std::string("build a ") + kind + " even if the file's keys look like another kind of device")
      ->check(CLI::IsMember({kind}));
}

void AddTimeout(CLI::App& command, Options& options, const char* default_text) {
  command
      .add_option("--timeout", options.move.timeout_seconds,
                  std::string("give up after this many seconds (") + default_text + ")")
      ->check(CLI::Validator(
          [](const std::string& text) {
            double seconds = 0.0;
            if (!CLI::detail::lexical_cast(text, seconds) || !std::isfinite(seconds) || seconds <= 0.0) {
              return std::string("must be a finite number of seconds above 0: ") + text;
            }
            return std::string();
          },
          "SECONDS"));
}

int Main(int argc, char** argv) {
  // A closed standard output or error (`>&- 2>&-`) gets a descriptor that
  // fails every write, so that no file the tool opens takes its number and
  // whatever is written there fails as on a closed one.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) {
      static_cast<void>(open("/", O_RDONLY | O_DIRECTORY));  // NOLINT(android-cloexec-open): it stays
    }
  }
  // Line by line, so the tool's lines written through stdio and those it
  // writes itself keep their order when standard output is a pipe or a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  Options options;
  CLI::App app{"vorn-io: move, check and explain vorn_io devices (lifters and servo grippers)", "vorn-io"};
  app.require_subcommand(1);
  app.footer(HelpFooter());
  app.set_version_flag("--version", get_version_str());
  app.set_help_all_flag("--help-all", "print this help and every command's options (as the manual page does)");
  // The tool's own options may follow the command, as in `vorn-io lifter FILE --to 1 -q`.
  app.fallthrough();
  app.add_flag("-q,--quiet", options.quiet, "no progress, and only the library's warnings and errors");
  app.add_option("--log-level", options.log_level, "the library's log level for this run (wins over SPDLOG_LEVEL)")
      ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error", "critical", "off"}));
  app.add_flag("--no-progress", options.no_progress, "no progress bar or progress lines");
  SimulationOptions simulation;
  AddSimulationOptions(app, simulation);

  CLI::App* version =
      app.add_subcommand("version", "print the library's version line and the motor-driver library loaded");

  CLI::App* lifter = app.add_subcommand("lifter", "build a lifter from a description, move it and wait for the move");
  lifter->add_option("FILE", options.move.file, "lifter description (YAML map with the lifter's and its motor's keys)")
      ->required();
  AddNode(*lifter, options);
  lifter->add_option("--to", options.move.to, "the state to move to")->required()->check(CLI::IsMember({0, 1}));
  lifter->add_option("--initial", options.move.initial, "declare the state the lifter starts in (default 0)")
      ->check(CLI::IsMember({0, 1}));
  AddAs(*lifter, options, "lifter");
  AddTimeout(*lifter, options, "default: 1.5 times the move's length plus 5 s");

  CLI::App* gripper =
      app.add_subcommand("gripper", "build a servo gripper, command it and wait until its motion has settled");
  gripper
      ->add_option("FILE", options.move.file,
                   "gripper file (root key \"gripper\") or motor file (sections feetechmotorN)")
      ->required();
  gripper->add_option("--motor", options.move.selector.motor, "use section feetechmotorN of a motor file");
  AddNode(*gripper, options);
  gripper->add_option("--to", options.move.to, "0 opens, 1 closes; without it, waits for the start-up move")
      ->check(CLI::IsMember({0, 1}));
  AddAs(*gripper, options, "gripper");
  AddTimeout(*gripper, options, "default: 90 s");

  CLI::App* check = app.add_subcommand(
      "check", "explain descriptions key by key without creating a motor; exit 1 if anything is flagged");
  check->add_option("FILE", options.files, "lifter, gripper or motor files (-: standard input)")->required();
  check->add_flag("--json", options.json, "print one JSON document instead of lines");
  AddNode(*check, options);
  check->add_option("--motor", options.move.selector.motor, "use section feetechmotorN of a motor file");
  check->add_option("--as", options.as, "the device the file describes (default: detected)")
      ->check(CLI::IsMember({"lifter", "gripper"}));

  CLI::App* keys = app.add_subcommand("keys", "print every configuration key with its type, default and fallback");
  keys->add_flag("--markdown", options.markdown, "as the Markdown tables of README.md");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const std::vector<std::string> rest = app.remaining();
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && app.get_subcommands().empty() && !rest.empty() &&
        rest.front().rfind('-', 0) != 0) {
      std::string commands;
      for (const CLI::App* command : app.get_subcommands({})) {
        commands += (commands.empty() ? "" : ", ") + command->get_name();
      }
      Warn("unknown command \"{}\" (the commands: {}); see --help", rest.front(), commands);
      return kBadConfig;
    }
    const int code = app.exit(error);
    return code == 0 ? CheckedOutput(kDone) : kBadConfig;
  }
  // The library's own console output is off for the run: the move commands
  // print its lines themselves (below their progress bar), and nothing else
  // may reach standard output besides a command's results. Configured before
  // its first line, the logger says nothing about variables left unset.
  quorvane::LogSettings settings{false, std::nullopt, std::nullopt};
  if (!options.log_level.empty() || options.quiet) {
    settings.level = spdlog::level::from_str(options.log_level.empty() ? "warn" : options.log_level);
  }
  options.move.library_lines = quorvane::Logger::Configure(settings).console.value_or(true);

  try {
    if (const std::optional<int> code = HandleSimulation(simulation)) {
      return *code;
    }
    // A write to a terminal that stops background writers (`stty tostop`)
    // goes through instead of stopping the tool, perhaps mid-move; the
    // lifter's thread, created later, inherits the mask.
    sigset_t ttou;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, nullptr);
    if (!options.node.empty()) {
      options.move.selector.node_path = options.node;
    }
    if (!options.as.empty()) {
      options.move.selector.as = options.as == "lifter" ? Device::kLifter : Device::kGripper;
    }
    options.move.show_progress = !options.quiet && !options.no_progress;
    int code = kBadConfig;
    if (version->parsed()) {
      fmt::print("{}\n{}\n", get_version_str(), DescribeMotorDriver(LoadedMotorDriver()));
      code = kDone;
    } else if (keys->parsed()) {
      fmt::print("{}", KeysText(options.markdown));
      code = kDone;
    } else if (check->parsed()) {
      code = RunCheck(options.files, options.move.selector, options.json);
    } else if (lifter->parsed()) {
      code = RunLifter(options.move);
    } else if (gripper->parsed()) {
      code = RunGripper(options.move);
    }
    return CheckedOutput(code);
  } catch (const std::system_error& error) {
    // fmt's failed write to standard output; anything else is the file's.
    if (std::ferror(stdout) != 0) {
      return ReportOutputFailure(error.code().message());
    }
    Warn("{}: {}", options.move.file, error.what());
    return kBadConfig;
  } catch (const ConfigError& error) {
    std::fflush(stdout);
    Warn("{}", error.what());  // it names its file
    return kBadConfig;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    Warn("{}: {}", FileName(options.move.file), WhatFailed(error));
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
