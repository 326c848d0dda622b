// vorn-io: drives one vorn_io device from the command line, checks device
// descriptions and prints the key tables.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>
#include <CLI/CLI.hpp>

#include "tools/check.h"
#include "tools/exit_codes.h"
#include "tools/key_text.h"
#include "tools/load.h"
#include "tools/motor_driver.h"
#include "tools/run.h"
#include "tools/sim_command.h"
#include "vorn_io/version.h"

namespace {

using vorn_io::tool::Kind;

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0    done: the move ended, or the description checked clean\n"
    "  1    refused by the device, or flagged by check\n"
    "  2    bad configuration: the file cannot be read, describes another kind of device (see --as),\n"
    "       or the device cannot be built from it; or no motor-driver library can be loaded\n"
    "  3    timed out: the move did not end in time (the device was shut down)\n"
    "  4    held: the lifter's move ended, but the torque hold stopped the motor on some ticks\n"
    "  5    abandoned: the lifter gave the move up on a failing motor; it is in neither state\n"
    "  129 SIGHUP, 130 SIGINT (Ctrl-C), 131 SIGQUIT, 138 SIGUSR1, 140 SIGUSR2, 143 SIGTERM:\n"
    "       stopped by that signal (128 + its number); the device was shut down first.\n"
    "       A signal ignored when the tool started (nohup) stays ignored.\n";

struct Options {
  std::string file;
  std::string node;
  std::optional<unsigned> motor;
  std::string as;
  std::optional<int> to;
  std::optional<int> initial;
  std::optional<double> timeout;
  bool markdown = false;
};

vorn_io::tool::Selector SelectorOf(const Options& options) {
  vorn_io::tool::Selector selector;
  if (!options.node.empty()) {
    selector.node_path = options.node;
  }
  selector.motor = options.motor;
  if (options.as == "lifter") {
    selector.kind = Kind::kLifter;
  } else if (options.as == "gripper") {
    selector.kind = Kind::kGripper;
  }
  return selector;
}

vorn_io::tool::MoveRequest RequestOf(const Options& options) {
  return {options.file, SelectorOf(options), options.to, options.initial, options.timeout};
}

void AddFile(CLI::App& command, Options& options, const char* what) {
  command.add_option("FILE", options.file, what)->required();
}

void AddNode(CLI::App& command, Options& options) {
  command.add_option("--node", options.node, "use the map under this key (a/b for nested keys) instead of the root");
}

void AddMotor(CLI::App& command, Options& options) {
  command.add_option("--motor", options.motor, "use section feetechmotorN of a motor file");
}

void AddAs(CLI::App& command, Options& options, const char* kind) {
  command
      .add_option("--as", options.as,
                  std::string("build a ") + kind + " even if the file's keys look like another kind of device")
      ->check(CLI::IsMember({kind}));
}

void AddTimeout(CLI::App& command, Options& options, const char* default_text) {
  command
      .add_option("--timeout", options.timeout, std::string("give up after this many seconds (") + default_text + ")")
      ->check(CLI::PositiveNumber);
}

int Main(int argc, char** argv) {
  // Line by line, so the progress lines and the library's log lines keep
  // their order when standard output is a pipe or a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  Options options;
  CLI::App app{"vorn-io: move, check and explain vorn_io devices (lifters and servo grippers)", "vorn-io"};
  app.require_subcommand(1);
  app.footer(kExitCodes);
  app.set_version_flag("--version", get_version_str());
  vorn_io::tool::SimulationOptions simulation;
  vorn_io::tool::AddSimulationOptions(app, simulation);

  CLI::App* version =
      app.add_subcommand("version", "print the library's version line and the motor-driver library loaded");

  CLI::App* lifter = app.add_subcommand("lifter", "build a lifter from a description, move it and wait for the move");
  AddFile(*lifter, options, "lifter description (YAML map with the lifter's and its motor's keys)");
  AddNode(*lifter, options);
  lifter->add_option("--to", options.to, "the state to move to")->required()->check(CLI::IsMember({0, 1}));
  lifter->add_option("--initial", options.initial, "declare the state the lifter starts in (default 0)");
  AddAs(*lifter, options, "lifter");
  AddTimeout(*lifter, options, "default: 1.5 times the move's length plus 5 s");

  CLI::App* gripper =
      app.add_subcommand("gripper", "build a servo gripper, command it and wait until its motion has settled");
  AddFile(*gripper, options, "gripper file (root key \"gripper\") or motor file (sections feetechmotorN)");
  AddMotor(*gripper, options);
  AddNode(*gripper, options);
  gripper->add_option("--to", options.to, "0 opens, 1 closes; without it, waits for the start-up move")
      ->check(CLI::IsMember({0, 1}));
  AddAs(*gripper, options, "gripper");
  AddTimeout(*gripper, options, "default: 90 s");

  CLI::App* check = app.add_subcommand(
      "check", "explain a description key by key without creating a motor; exit 1 if anything is flagged");
  AddFile(*check, options, "lifter, gripper or motor file");
  AddNode(*check, options);
  AddMotor(*check, options);
  check->add_option("--as", options.as, "the device the file describes (default: detected)")
      ->check(CLI::IsMember({"lifter", "gripper"}));

  CLI::App* keys = app.add_subcommand("keys", "print every configuration key with its type, default and fallback");
  keys->add_flag("--markdown", options.markdown, "as the Markdown tables of README.md");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? vorn_io::tool::kDone : vorn_io::tool::kBadConfig;
  }

  try {
    if (const std::optional<int> code = vorn_io::tool::HandleSimulation(simulation)) {
      return *code;
    }
    if (version->parsed()) {
      fmt::print("{}\n", get_version_str());
      fmt::print("{}\n", vorn_io::tool::DescribeMotorDriver(vorn_io::tool::LoadedMotorDriver()));
      return vorn_io::tool::kDone;
    }
    if (keys->parsed()) {
      fmt::print("{}", options.markdown ? vorn_io::tool::KeysMarkdown() : vorn_io::tool::KeysPlain());
      return vorn_io::tool::kDone;
    }
    if (check->parsed()) {
      return vorn_io::tool::RunCheck(options.file, SelectorOf(options));
    }
    if (lifter->parsed()) {
      return vorn_io::tool::RunLifter(RequestOf(options));
    }
    if (gripper->parsed()) {
      return vorn_io::tool::RunGripper(RequestOf(options));
    }
  } catch (const vorn_io::tool::ConfigError& error) {
    std::fflush(stdout);
    fmt::print(stderr, "vorn-io: {}\n", error.what());
    return vorn_io::tool::kBadConfig;
  } catch (const YAML::Exception& error) {
    std::fflush(stdout);
    fmt::print(stderr, "vorn-io: {}: {}\n", options.file, error.what());
    return vorn_io::tool::kBadConfig;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    fmt::print(stderr, "vorn-io: {}: {}\n", options.file, error.what());
    return vorn_io::tool::kBadConfig;
  }
  return vorn_io::tool::kBadConfig;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (...) {
    // Nothing may end the tool with an abort; the device, if any, is gone by now.
    std::fputs("vorn-io: unexpected error\n", stderr);
    return vorn_io::tool::kBadConfig;
  }
}
