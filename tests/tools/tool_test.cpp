// vorn-io run as a process against the simulated motors, as a person or a
// script runs it: exit codes, output, the shutdown on signals.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "test_support.h"

namespace {

using testing::HasSubstr;
using testing::Not;

/// vorn-io in a child process, its standard output and standard error merged,
/// in an environment without any SPDLOG_* or VORN_MOTOR_SIM_* variable but
/// `env`. Standard output goes to `stdout_to` where that is given: a file
/// (/dev/null, /dev/full), "&-" (both outputs closed), "tty&" (a background
/// job on a terminal that stops background writers) or "stalled" (a small
/// pipe nobody reads until the tool has ended).
class ToolProcess : public vorn_io_test::ChildProcess {
 public:
  using Env = vorn_io_test::Env;
  ToolProcess(const std::vector<std::string>& args, const Env& env, bool on_terminal = false,
              const std::vector<int>& ignored = {}, const std::string& stdout_to = {}, unsigned long memory_mib = 0)
      : ChildProcess(VORN_IO_TOOL, args, Options(env, on_terminal, ignored, stdout_to, memory_mib)) {}

 private:
  static vorn_io_test::ChildOptions Options(const Env& env, bool on_terminal, const std::vector<int>& ignored,
                                            const std::string& stdout_to, unsigned long memory_mib) {
    vorn_io_test::ChildOptions options;
    options.env = env;
    options.dropped_prefixes = {"SPDLOG_", "VORN_MOTOR_SIM_"};
    options.ignored = ignored;
    options.merge_stderr = true;
    options.on_terminal = on_terminal || stdout_to == "tty&";
    options.background = stdout_to == "tty&";
    options.closed_outputs = stdout_to == "&-";
    if (stdout_to == "stalled") {
      options.output = vorn_io_test::ChildOptions::Output::kReadLate;
      options.late_ms = 60000;
      options.pipe_bytes = 4096;
    } else if (stdout_to.rfind('/', 0) == 0) {
      options.stdout_to = stdout_to;
    }
    options.memory_mib = memory_mib;
    return options;
  }
};

/// Runs the tool to its end: the exit code and everything it printed.
std::pair<int, std::string> RunTool(const std::vector<std::string>& args, const ToolProcess::Env& env = {},
                                    const std::string& stdout_to = {}, unsigned long memory_mib = 0) {
  ToolProcess tool(args, env, false, {}, stdout_to, memory_mib);
  const int code = tool.Wait();
  return {code, tool.output()};
}

const std::string kExamples = std::string(VORN_IO_SOURCE_DIR) + "/examples/";

// A system program run on the stand-in of a sanitizer build has the stand-in
// (and with it the sanitizer's runtime) preloaded after its own libraries,
// which AddressSanitizer refuses unless told not to check. Plain builds ignore it.
std::string AsanOptionsForASystemProgram() {
  const char* options = std::getenv("ASAN_OPTIONS");
  return (options != nullptr && *options != '\0' ? std::string(options) + ":" : std::string()) +
         "verify_asan_link_order=0";
}

using Scratch = vorn_io_test::TempDir;

// A move of 0.5 s: 50 ticks of 10 ms.
constexpr const char* kShortLifter = "vendor: damiao\ndev_name: short\nmaxpos: 2.0\nfreq: 100\nspeed: 4.0\n";
constexpr const char* kMotorFile = "feetechmotor1:\n  id: 1\n  dev_name: x\nfeetechmotor2:\n  id: 2\n  dev_name: x\n";
// A move of about 290 s with the lifter's defaults: long enough to interrupt.
constexpr const char* kLongLifter = "vendor: damiao\ndev_name: long\n";
// A move of about 290 s at 100 ticks a second.
constexpr const char* kFastLongLifter = "vendor: damiao\ndev_name: fast\nfreq: 100\n";
// A move of 1 s whose lines fill a small pipe: 100 ticks of 10 ms.
constexpr const char* kChattyLifter = "vendor: damiao\ndev_name: chatty\nmaxpos: 2.0\nfreq: 100\nspeed: 2.0\n";

/// A description of 1 MiB, far larger than the tool may allocate with a
/// memory limit of 64 MiB, but not too large to be read.
std::string ManyKeys() {
  std::string text;
  for (int i = 0; text.size() < (1U << 20U); ++i) {
    text += fmt::format("torque_{}: {}\n", i, i);
  }
  return text;
}
const std::string kManyKeys = ManyKeys();

// An address-space limit leaves a sanitizer's runtime no room to start.
constexpr bool kSanitized = VORN_IO_SANITIZED;

TEST(ToolTest, VersionPrintsTheLibraryLine) {
  const auto [code, out] = RunTool({"version"});
  EXPECT_EQ(code, 0);
  EXPECT_THAT(out, testing::StartsWith("vorn_io version: 1.0.0."));
  // --version is that line and nothing else.
  const auto [flag_code, flag_out] = RunTool({"--version"});
  EXPECT_EQ(flag_code, 0);
  EXPECT_THAT(flag_out, testing::MatchesRegex("vorn_io version: 1\\.0\\.0\\.[^\n]*\n"));
}

struct ExitCase {
  const char* name;
  std::vector<std::string> args;  // "@" is replaced by the file written from `file`
  const char* file;
  int code;
  const char* says;
  ToolProcess::Env env = {};
  const char* stdout_to = "";   // see ToolProcess; /dev/null: `says` must then be on standard error
  const char* never = nullptr;  // nor may this appear
  const char* after = nullptr;  // `says` comes after this
  unsigned long memory_mib = 0;
};

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class ExitCodeTest : public testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodeTest, EachOutcomeHasItsCode) {
  const ExitCase& c = GetParam();
  Scratch scratch;
  std::vector<std::string> args = c.args;
  for (std::string& arg : args) {
    if (arg == "@") {
      arg = scratch.Write("description.yaml", c.file);
    } else if (arg == "@dir") {
      arg = scratch.path().string();
    } else if (arg == "@missing") {
      arg = scratch.path().string() + "/missing.yaml";
    }
  }
  if (c.memory_mib > 0 && kSanitized) {
    GTEST_SKIP() << "no memory limit under a sanitizer";
  }
  const auto [code, out] = RunTool(args, c.env, c.stdout_to, c.memory_mib);
  EXPECT_EQ(code, c.code) << out;
  EXPECT_THAT(out, HasSubstr(c.says));
  if (c.never != nullptr) {
    EXPECT_THAT(out, Not(HasSubstr(c.never)));
  }
  if (c.after != nullptr) {
    EXPECT_THAT(out, HasSubstr(c.after));
    EXPECT_GT(out.rfind(c.says), out.find(c.after)) << out;
  }
  // The tool gives the library's unset SPDLOG_* variables its own defaults.
  EXPECT_THAT(out, Not(HasSubstr("is not set")));
  // A bad file is a message, never a crash.
  EXPECT_THAT(out, Not(HasSubstr("terminate called")));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ExitCodeTest,
    testing::Values(
        // Nothing says how the move went before the device has been shut down.
        ExitCase{"MoveEnds",
                 {"lifter", "@", "--to", "1"},
                 kShortLifter,
                 0,
                 "lifter in state 1",
                 {},
                 "",
                 nullptr,
                 "vorn-io: motor parked and disabled"},
        ExitCase{"RepeatedStateIsDone",
                 {"lifter", "@", "--to", "1", "--initial", "1"},
                 kShortLifter,
                 0,
                 "Lifter already in stat: 1"},
        ExitCase{"NoVendorIsRefused", {"lifter", "@", "--to", "1"}, "maxpos: 2\n", 1, "refused the move to 1"},
        ExitCase{"RefusedGripperCommand",
                 {"gripper", kExamples + "gripper.yaml", "--to", "1"},
                 "",
                 1,
                 "vorn-io: the gripper refused the command 1",
                 {{"VORN_MOTOR_SIM_FEETECH_FAIL", "setGripperStatus@1"}},
                 "",
                 "settled",
                 "vorn-io: gripper motor disabled and released"},
        ExitCase{"FlaggedCheck", {"check", "@"}, "vendor: damiao\nspeed: fast\n", 1, "1 flagged"},
        ExitCase{"MissingFile", {"lifter", "@missing", "--to", "1"}, "", 2, "missing.yaml: No such file"},
        ExitCase{"Directory", {"check", "@dir"}, "", 2, "is a directory"},
        ExitCase{"SyntaxError", {"check", "@"}, "vendor: [damiao\n", 2, "description.yaml: yaml-cpp: error at line"},
        ExitCase{"IdNotAnInteger", {"lifter", "@", "--to", "1"}, "vendor: damiao\nid: abc\n", 2, "bad conversion"},
        ExitCase{"ScalarDescription", {"lifter", "@", "--to", "1"}, "just text\n", 2, "not a map"},
        ExitCase{"GripperWithoutId", {"gripper", "@", "--to", "1"}, "gripper:\n  dev_name: x\n", 2, "cannot be built"},
        ExitCase{"MissingSection",
                 {"gripper", "@", "--motor", "3"},
                 "feetechmotor1:\n  id: 1\n  dev_name: x\n",
                 2,
                 "no section feetechmotor3 (motor sections in the file: 1)"},
        ExitCase{"UnknownKind", {"check", "@"}, "speed: 3\n", 2, "--as lifter|gripper"},
        ExitCase{"BadArgument", {"lifter", "@", "--to", "2"}, kShortLifter, 2, "--to"},
        ExitCase{"TimedOut", {"lifter", "@", "--to", "1", "--timeout", "0.3"}, kLongLifter, 3, "timed out"},
        // The move to 0 runs in the motor's positive direction, into the obstacle.
        ExitCase{"HeldMove",
                 {"lifter", "@", "--initial", "1", "--to", "0"},
                 kShortLifter,
                 4,
                 "the torque hold stopped the motor on",
                 {{"VORN_MOTOR_SIM_DAMIAO_OBSTACLE", "1"}}},
        // Only the last commanding tick reads the torque of a command 0.26
        // past the obstacle at 1.7: a single held tick is a held move too.
        ExitCase{"HeldOnOneTick",
                 {"lifter", "@", "--initial", "1", "--to", "0"},
                 kShortLifter,
                 4,
                 "Get max torque: 3.89",
                 {{"VORN_MOTOR_SIM_DAMIAO_OBSTACLE", "1.7"}}},
        // The move to 1 runs in the motor's negative direction, where the
        // lifter does not hold: it pushes through, and says so.
        ExitCase{"PushedThroughIsResisted",
                 {"lifter", "@", "--to", "1"},
                 kShortLifter,
                 4,
                 "in the direction the lifter does not hold on",
                 {{"VORN_MOTOR_SIM_DAMIAO_OBSTACLE", "-1"}},
                 "",
                 "the torque hold stopped"},
        ExitCase{"AbandonedMove",
                 {"lifter", "@", "--to", "1"},
                 kShortLifter,
                 5,
                 "abandoned",
                 {{"VORN_MOTOR_SIM_DAMIAO_FAIL", "getTorque"}}},
        // A motor library that hangs, or a motor that never confirms its
        // disable: never a silent hang, never "parked".
        ExitCase{"HungTick",
                 {"lifter", "@", "--to", "1", "--timeout", "1"},
                 kFastLongLifter,
                 6,
                 "vorn-io: the motor call getTorque has not returned (the motor library hangs); the motor could not "
                 "be parked and may still be enabled",
                 {{"VORN_MOTOR_SIM_DAMIAO_HANG", "getTorque@3"}},
                 "",
                 "parked and disabled"},
        ExitCase{"HungDisable",
                 {"lifter", "@", "--to", "1"},
                 kShortLifter,
                 6,
                 "vorn-io: the motor call setEnable has not returned",
                 {{"VORN_MOTOR_SIM_DAMIAO_HANG", "setEnable@1"}},
                 "",
                 "parked and disabled",
                 "lifter in state 1"},
        ExitCase{"HungGripperPoll",
                 {"gripper", kExamples + "gripper.yaml", "--to", "1", "--timeout", "1"},
                 "",
                 6,
                 "vorn-io: the gripper's getIoStatus has not returned after",
                 {{"VORN_MOTOR_SIM_FEETECH_HANG", "getPosition@5"}},
                 "",
                 "disabled and released"},
        ExitCase{"NeverDisabled",
                 {"lifter", "@", "--to", "1"},
                 kShortLifter,
                 6,
                 "vorn-io: the motor did not confirm its disable",
                 {{"VORN_MOTOR_SIM_DAMIAO_FAIL", "setEnable@1"}},
                 "",
                 "parked and disabled",
                 "Motor still enabled after 50 polls, released anyway"},
        ExitCase{"GripperGivenALifterFile",
                 {"gripper", "@", "--to", "1"},
                 kShortLifter,
                 2,
                 "looks like a lifter description (a \"vendor\" key), not a gripper one; add --as gripper"},
        ExitCase{"LifterGivenAMotorFile",
                 {"lifter", "@", "--to", "1"},
                 kMotorFile,
                 2,
                 "looks like a gripper description (sections feetechmotor1, feetechmotor2), not a lifter one"},
        ExitCase{"AsOverridesTheKind",
                 {"gripper", "@", "--to", "1", "--as", "gripper"},
                 "vendor: damiao\nid: 1\ndev_name: bus\ninverse: false\n",
                 0,
                 "gripper settled",
                 {{"VORN_MOTOR_SIM_FEETECH_OBSTACLE", "0.5"}}},
        // Refusals, time-outs and errors on standard error, with standard output elsewhere.
        ExitCase{
            "RefusalOnStderr", {"lifter", "@", "--to", "1"}, "maxpos: 2\n", 1, "refused the move", {}, "/dev/null"},
        ExitCase{"TimeOutOnStderr",
                 {"lifter", "@", "--to", "1", "--timeout", "0.3"},
                 kLongLifter,
                 3,
                 "timed out",
                 {},
                 "/dev/null"},
        ExitCase{
            "ResultOnStdout", {"lifter", "@", "--to", "1"}, kShortLifter, 0, "", {}, "/dev/null", "lifter in state"},
        ExitCase{"StdoutFull",
                 {"check", "@"},
                 kShortLifter,
                 74,
                 "vorn-io: cannot write to standard output: No space left on device",
                 {},
                 "/dev/full",
                 "description.yaml"},
        // A result line that standard output does not take in time is lost, not waited for.
        ExitCase{"StalledOutput",
                 {"lifter", "@", "--to", "1"},
                 kChattyLifter,
                 74,
                 "vorn-io: lifter with a damiao motor from",
                 {},
                 "stalled",
                 "lifter in state"},
        ExitCase{"NoOutputsAtAll", {"lifter", "@", "--to", "1"}, kShortLifter, 74, "", {}, "&-"},
        ExitCase{"NoOutputsAtAllForCheck", {"check", "@"}, kShortLifter, 74, "", {}, "&-"},
        // A terminal that stops background writers stops neither the library's lines nor the tool's.
        ExitCase{"BackgroundJob", {"lifter", "@", "--to", "1"}, kShortLifter, 0, "lifter in state 1", {}, "tty&"},
        ExitCase{"OversizedFile", {"check", "/dev/zero"}, "", 2, "vorn-io: /dev/zero: larger than 4 MiB"},
        ExitCase{"OutOfMemory",
                 {"check", "--as", "gripper", "@"},
                 kManyKeys.c_str(),
                 2,
                 "description.yaml: out of memory",
                 {},
                 "",
                 nullptr,
                 nullptr,
                 64},
        ExitCase{"InfiniteTimeout", {"lifter", "@", "--to", "1", "--timeout", "inf"}, kShortLifter, 2, "--timeout"},
        ExitCase{"InitialNotAState", {"lifter", "@", "--to", "1", "--initial", "2"}, kShortLifter, 2, "--initial"},
        ExitCase{"UnknownCommand", {"lifts", "@"}, kShortLifter, 2, "lifts"},
        ExitCase{"UnknownLogLevel", {"--log-level", "loud", "version"}, "", 2, "--log-level"},
        // The library's log level: flag over the user's variable over the tool's default.
        ExitCase{"Quiet", {"lifter", "@", "--to", "1", "-q"}, kShortLifter, 0, "lifter in state 1", {}, "", "[INFO]"},
        ExitCase{
            "NoProgress", {"lifter", "@", "--to", "1", "--no-progress"}, kShortLifter, 0, "[INFO]", {}, "", "progress"},
        ExitCase{"UsersLevelHonoured",
                 {"lifter", "@", "--to", "1"},
                 kShortLifter,
                 0,
                 "lifter in state 1",
                 {{"SPDLOG_LEVEL", "warning"}},
                 "",
                 "[INFO]"},
        ExitCase{"FlagOverUsersLevel",
                 {"lifter", "@", "--to", "1", "--log-level", "info"},
                 kShortLifter,
                 0,
                 "[INFO] Get to target pos.",
                 {{"SPDLOG_LEVEL", "warning"}}},
        // The library's lines are the tool's to print, as the user's SPDLOG_STDOUT says.
        ExitCase{"UsersConsoleOffHonoured",
                 {"lifter", "@", "--to", "1"},
                 kShortLifter,
                 0,
                 "lifter in state 1",
                 {{"SPDLOG_STDOUT", "false"}},
                 "",
                 "[INFO]"},
        ExitCase{"LogLevelOff",
                 {"--log-level", "off", "lifter", "@", "--to", "1"},
                 kShortLifter,
                 0,
                 "lifter in state 1",
                 {},
                 "",
                 "[INFO]"},
        // The program run on the simulation gets the environment as the user gave it.
        ExitCase{"SimProgramGetsUsersEnvironment",
                 {"sim", "--", "env"},
                 "",
                 0,
                 "SPDLOG_LEVEL=debug",
                 {{"SPDLOG_LEVEL", "debug"}, {"ASAN_OPTIONS", AsanOptionsForASystemProgram()}},
                 "",
                 "SPDLOG_STDOUT"}),
    [](const testing::TestParamInfo<ExitCase>& param) { return param.param.name; });

TEST(ToolTest, ProgressOffATerminalIsPlainLinesThatFollowTheLiftersTicks) {
  Scratch scratch;
  ToolProcess tool({"lifter", scratch.Write("lifter.yaml", kChattyLifter), "--to", "1"}, {});
  // Stopped for a while early in the move (Ctrl-Z, then fg): the time passes,
  // the lifter's ticks do not, and the progress follows the ticks.
  ASSERT_TRUE(tool.WaitForOutput("vorn-io: progress  10%")) << tool.output();
  tool.Signal(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  tool.Signal(SIGCONT);
  ASSERT_EQ(tool.Wait(), 0) << tool.output();
  const std::string& out = tool.output();
  EXPECT_EQ(out.find('\033'), std::string::npos) << "escape codes in: " << out;
  // Tenths in rising order, then the end; the library's own lines in between,
  // each tenth after at least its share of the ramp's 100 "set pos" lines.
  const std::regex progress("vorn-io: progress +([0-9]+)%");
  int last = -1;
  for (auto it = std::sregex_iterator(out.begin(), out.end(), progress); it != std::sregex_iterator(); ++it) {
    const int percent = std::stoi((*it)[1]);
    EXPECT_GT(percent, last);
    EXPECT_EQ(percent % 10, 0);
    const std::string before = out.substr(0, static_cast<std::size_t>(it->position()));
    EXPECT_GE(static_cast<int>(vorn_io_test::Occurrences(before, "[INFO] set pos")), percent - 2)
        << "at " << percent << "%:\n"
        << out;
    last = percent;
  }
  EXPECT_EQ(last, 100);
  EXPECT_THAT(out, HasSubstr("[INFO] Get to target pos."));
}

TEST(ToolTest, ProgressOnATerminalIsABarBelowTheLogLines) {
  Scratch scratch;
  ToolProcess tool({"lifter", scratch.Write("lifter.yaml", kShortLifter), "--to", "1"}, {}, true);
  ASSERT_EQ(tool.Wait(), 0) << tool.output();
  EXPECT_THAT(tool.output(), HasSubstr("\r\033[Klifter [#"));
  // Each log line comes through whole, the ones during the move after the bar has been wiped: a bar is
  // followed by its wipe (or its next state), never by a line's text.
  EXPECT_THAT(tool.output(), HasSubstr("  1 [INFO] id: 0; master_id: 0; mode: 0; strdev: short; maxpos: 2.00\r"));
  EXPECT_THAT(tool.output(), testing::ContainsRegex("\r\033\\[K +[0-9]+ \\[INFO\\] set pos -[0-9.]+, current pos"));
  EXPECT_THAT(tool.output(), HasSubstr("[INFO] set pos -1.00, current pos"));
  EXPECT_THAT(tool.output(), Not(testing::ContainsRegex("s left[^\r]")));
  EXPECT_THAT(tool.output(), HasSubstr("[INFO] Get to target pos."));
  EXPECT_THAT(tool.output(), Not(HasSubstr("vorn-io: progress  10%")));
}

TEST(ToolTest, ProgressBarFitsANarrowTerminal) {
  Scratch scratch;
  ToolProcess tool({"lifter", scratch.Write("lifter.yaml", kShortLifter), "--to", "1"}, {}, true);
  tool.Resize(40);
  ASSERT_EQ(tool.Wait(), 0) << tool.output();
  // The last bar drawn and the final one: whole, and narrower than the terminal.
  const std::regex bar("\033\\[K(lifter \\[[#.]*\\] +[0-9]+%  about [0-9.]+ s left)");
  std::string last;
  for (auto it = std::sregex_iterator(tool.output().begin(), tool.output().end(), bar); it != std::sregex_iterator();
       ++it) {
    last = (*it)[1];
  }
  ASSERT_FALSE(last.empty()) << tool.output();
  EXPECT_LT(last.size(), 40U) << last;
  EXPECT_THAT(tool.output(), testing::ContainsRegex("lifter \\[#+\\] 100%"));
  EXPECT_THAT(tool.output(), Not(testing::ContainsRegex("lifter \\[#{30}\\]")));
}

TEST(ToolTest, ProgressOnADumbTerminalIsPlainLines) {
  Scratch scratch;
  ToolProcess tool({"lifter", scratch.Write("lifter.yaml", kShortLifter), "--to", "1"}, {{"TERM", "dumb"}}, true);
  ASSERT_EQ(tool.Wait(), 0) << tool.output();
  EXPECT_EQ(tool.output().find('\033'), std::string::npos) << "escape codes in: " << tool.output();
  EXPECT_THAT(tool.output(), HasSubstr("vorn-io: progress 100%"));
}

struct CheckCase {
  const char* name;
  // After "check". "@a" and "@b" become files written from `a` and `b`
  // (a.yaml, b.yaml), "@missing" a file that is not there.
  std::vector<std::string> args;
  const char* a;
  const char* b;
  int code;
  // Regular expressions that standard output must contain; with --json,
  // "POINTER=REGEX" for a value of the one document it must hold.
  std::vector<std::string> out;
  const char* err = "";  // standard error must contain this
  const char* stdin_text = nullptr;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class CheckTest : public testing::TestWithParam<CheckCase> {};

TEST_P(CheckTest, PrintsTheReadersAccount) {
  const CheckCase& c = GetParam();
  Scratch scratch;
  std::vector<std::string> args{"check"};
  for (const std::string& arg : c.args) {
    args.push_back(arg == "@a"         ? scratch.Write("a.yaml", c.a)
                   : arg == "@b"       ? scratch.Write("b.yaml", c.b)
                   : arg == "@missing" ? scratch.path().string() + "/missing.yaml"
                                       : arg);
  }
  vorn_io_test::ChildOptions options;
  options.dropped_prefixes = {"SPDLOG_", "VORN_MOTOR_SIM_"};
  if (c.stdin_text != nullptr) {
    options.stdin_from = scratch.Write("stdin.yaml", c.stdin_text);
  }
  const vorn_io_test::ChildResult run = vorn_io_test::RunChild(VORN_IO_TOOL, args, options);
  EXPECT_EQ(run.code, c.code) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr(c.err));
  if (std::find(args.begin(), args.end(), "--json") == args.end()) {
    for (const std::string& expected : c.out) {
      EXPECT_THAT(run.out, testing::ContainsRegex(expected));
    }
    return;
  }
  // One document and nothing else: a log line or a second document fails the parse.
  nlohmann::json document;
  ASSERT_NO_THROW(document = nlohmann::json::parse(run.out)) << run.out;
  for (const std::string& expected : c.out) {
    const std::size_t equals = expected.find('=');
    const nlohmann::json::json_pointer pointer(expected.substr(0, equals));
    ASSERT_TRUE(document.contains(pointer)) << expected << " in " << run.out;
    const nlohmann::json& value = document.at(pointer);
    EXPECT_THAT(value.is_string() ? value.get<std::string>() : value.dump(),
                testing::MatchesRegex(expected.substr(equals + 1)))
        << expected;
  }
}

constexpr const char* kDamiao = "vendor: damiao\n";

INSTANTIATE_TEST_SUITE_P(
    Accounts, CheckTest,
    testing::Values(
        CheckCase{"LifterValuesTheDeviceChanges",
                  {"@a"},
                  "vendor: damiao\nspeed: fast\nfreq: 0\nmaxpos: 600\nmaxpso: 3\nkp: 12\n",
                  "",
                  1,
                  {R"(! speed +3\.14 +fallback: .*a\.yaml:2:1\])", R"(! freq +10 +replaced: .*a\.yaml:3:1\])",
                   R"(! maxpos +480 +replaced: .*a\.yaml:4:1\])", R"(! maxpso +- +unknown.*"maxpos".*a\.yaml:5:1\])",
                   "\n  kp +12 +file  \\[.*a\\.yaml:6:1\\]", "a\\.yaml: 4 flagged \\(marked !\\)"}},
        CheckCase{
            "GripperFallbacksAndStrayRootKeys",
            {"@a"},
            "gripper:\n  id: 1\n  dev_name:\n  baudrate: -9600\n  torque_hgh: 5\ngrip: 1\n",
            "",
            1,
            {R"(! baudrate +115200 +fallback: )", R"(! torque_hgh +- +unknown.*"torque_high")",
             R"(a\.yaml: gripper file, file root.*! grip +- +unknown.*a\.yaml:6:1\])", "\n  inverse +true +default\n"}},
        CheckCase{"DuplicateKeyWithItsPlace",
                  {"@a"},
                  "vendor: damiao\nid: 1\nid: 2\n",
                  "",
                  1,
                  {R"(! id .* duplicate: .*a\.yaml:3:1\])", "1 flagged"}},
        CheckCase{"EveryKeyErrorOfAFile",
                  {"@a"},
                  "vendor: damiao\nid: x\nmode: y\n",
                  "",
                  2,
                  {R"(! id .* error: .*a\.yaml:2:1\])", R"(! mode .* error: .*a\.yaml:3:1\])",
                   "a\\.yaml: the device cannot be built from this description"}},
        CheckCase{"ControlCharactersEscaped",
                  {"@a"},
                  "vendor: damiao\ndev_name: \"bus\\x01\\tx\\x7f\"\n\"max\\npos\": 1\n",
                  "",
                  1,
                  {R"(  dev_name +bus\\x01\\tx\\x7f +file)", R"(! max\\npos +- +unknown)"}},
        CheckCase{"SecondDocument",
                  {"@a"},
                  "vendor: damiao\n---\nvendor: feetech\n",
                  "",
                  1,
                  {R"(! --- +- +unknown.*a second YAML document.*the first only  \[.*a\.yaml:3:1\])", "1 flagged"}},
        CheckCase{"MotorFileWithSectionZero",
                  {"@a"},
                  "feetechmotor0:\n  id: 1\n  dev_name: x\n",
                  "",
                  0,
                  {"a\\.yaml: gripper, section feetechmotor0\n", "a\\.yaml: clean\n"}},
        CheckCase{"StandardInput",
                  {"-"},
                  "",
                  "",
                  0,
                  {"<stdin>: lifter with a damiao motor, root map\n", R"(\[<stdin>:1:1\])", "<stdin>: clean\n"},
                  "",
                  kDamiao},
        CheckCase{"SeveralFilesTheWorstCounts",
                  {"@a", "@b"},
                  kDamiao,
                  "vendor: damiao\nkq: 1\n",
                  1,
                  {R"(a\.yaml: clean.*b\.yaml: 1 flagged)"}},
        CheckCase{"AnUnreadableFileAmongReadableOnes",
                  {"@a", "@missing", "@b"},
                  kDamiao,
                  "vendor: damiao\nkq: 1\n",
                  2,
                  {R"(a\.yaml: clean.*b\.yaml: 1 flagged)"},
                  "missing.yaml: No such file"},
        CheckCase{"ExamplesInOneCall",
                  {kExamples + "lifter.yaml", kExamples + "gripper.yaml", kExamples + "motors.yaml"},
                  "",
                  "",
                  0,
                  {"lifter\\.yaml: clean\n", "gripper\\.yaml: clean\n", "motors\\.yaml: clean\n",
                   R"(  a move: [0-9]+ ticks of 20 ms, about 3\.0 s)"}},
        CheckCase{"JsonExamplesInOneCall",
                  {"--json", kExamples + "lifter.yaml", kExamples + "gripper.yaml", kExamples + "motors.yaml"},
                  "",
                  "",
                  0,
                  {"/result=clean", "/files/0/descriptions/0/device=lifter with a damiao motor",
                   "/files/0/descriptions/0/move/period_ms=20(\\.0)?", "/files/1/descriptions/0/where=key gripper",
                   "/files/2/descriptions/1/where=section feetechmotor2", "/files/2/descriptions/1/kind=motor file"}},
        CheckCase{"JsonOfEachOutcome",
                  {"--json", "@a", "@missing", "-", "@b"},
                  "vendor: damiao\nid: 3\nkq: 1\n",
                  "vendor: damiao\nid: x\n",
                  2,
                  {"/result=error", "/files/0/result=flagged", "/files/0/descriptions/0/keys/0/key=id",
                   "/files/0/descriptions/0/keys/0/value=3", "/files/0/descriptions/0/keys/0/line=2",
                   "/files/0/descriptions/0/keys/0/column=1", "/files/0/descriptions/0/move/ticks=2865",
                   "/files/1/result=error", "/files/1/error=.*missing\\.yaml: No such file.*", "/files/2/file=<stdin>",
                   "/files/2/result=clean", "/files/3/descriptions/0/result=error"},
                  "missing.yaml: No such file",
                  kDamiao}),
    [](const testing::TestParamInfo<CheckCase>& param) { return param.param.name; });

TEST(ToolTest, ReadmeReferenceMatchesTheKeyTables) {
  std::ifstream readme(std::string(VORN_IO_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(readme) << "README.md is missing";
  std::stringstream text;
  text << readme.rdbuf();
  const std::string content = text.str();
  const std::string begin = "<!-- keys:begin (generated by `vorn-io keys --markdown`) -->\n";
  const std::size_t from = content.find(begin);
  const std::size_t to = content.find("<!-- keys:end -->");
  ASSERT_NE(from, std::string::npos);
  ASSERT_NE(to, std::string::npos);
  const vorn_io_test::ChildResult keys = vorn_io_test::RunChild(VORN_IO_TOOL, {"keys", "--markdown"});
  ASSERT_EQ(keys.code, 0) << keys.err;
  EXPECT_EQ(content.substr(from + begin.size(), to - from - begin.size()), "\n" + keys.out)
      << "regenerate with: vorn-io keys --markdown";
}

/// The numbers in the first group of `pattern` in `text` from `from` to `to`.
std::set<int> CodesIn(const std::string& text, const std::string& from, const std::string& to,
                      const std::regex& pattern) {
  const std::size_t begin = text.find(from);
  const std::string part = text.substr(begin, text.find(to, begin + from.size()) - begin);
  std::set<int> codes;
  for (auto it = std::sregex_iterator(part.begin(), part.end(), pattern); it != std::sregex_iterator(); ++it) {
    codes.insert(std::stoi((*it)[1]));
  }
  return codes;
}

TEST(ToolTest, ReadmeExitCodesMatchTheHelp) {
  std::ostringstream readme;
  readme << std::ifstream(std::string(VORN_IO_SOURCE_DIR) + "/README.md").rdbuf();
  const vorn_io_test::ChildResult help = vorn_io_test::RunChild(VORN_IO_TOOL, {"--help"});
  ASSERT_EQ(help.code, 0) << help.err;
  const std::set<int> listed = CodesIn(help.out, "Exit codes:", "Environment:", std::regex("(?:\n  |, )([0-9]+) "));
  EXPECT_THAT(listed, testing::IsSupersetOf({0, 74, 129, 148}));
  EXPECT_EQ(CodesIn(readme.str(), "### Exit codes", "\n#", std::regex("\n\\| ([0-9]+) \\|")), listed);
}

TEST(ToolTest, ManualPageListsEveryCommandsOptions) {
#ifndef VORN_IO_MAN_PAGE_FILE
  GTEST_SKIP() << "no manual page in this build";
#else
  const vorn_io_test::ChildResult page = vorn_io_test::RunChild("/bin/gzip", {"-dc", VORN_IO_MAN_PAGE_FILE});
  ASSERT_EQ(page.code, 0) << page.err;
  for (const char* option : {"to", "initial", "node", "timeout", "json", "trace", "motor", "as", "markdown"}) {
    EXPECT_THAT(page.out, HasSubstr(std::string("\\fB\\-\\-") + option + "\\fR")) << option;
  }
#endif
}

/// The rows of a trace file after its header, which must be `header`; each
/// row's first cell (the time) must be above the one before.
std::vector<std::string> TraceRows(const std::string& path, const std::string& header) {
  std::ifstream file(path);
  std::string line;
  EXPECT_TRUE(std::getline(file, line)) << path;
  EXPECT_EQ(line, header);
  std::vector<std::string> rows;
  for (double before = -1.0; std::getline(file, line); rows.push_back(line)) {
    const double time = std::stod(line.substr(0, line.find(',')));
    EXPECT_GT(time, before) << line;
    before = time;
  }
  return rows;
}

constexpr const char* kLifterColumns =
    "time_s,lateness_s,set_position,position,torque,torque_limit,sent_position,held,unheld,failed_calls";

// The trace is written however the run ends, one row per tick; --json says
// how the move went as one document after the tool's lines (on standard error).
TEST(ToolTest, LifterTraceIsWrittenHoweverTheRunEnds) {
  struct Case {
    const char* name;
    const char* lifter;
    std::vector<std::string> options;
    int signal;
    int code;
  };
  const std::vector<Case> cases = {
      {"reached", kShortLifter, {"--json"}, 0, 0},
      {"timed out", kFastLongLifter, {"--json", "--timeout", "1"}, 0, 3},
      {"signalled", kFastLongLifter, {}, SIGINT, 130},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    const std::string trace = (scratch.path() / "move.csv").string();
    std::vector<std::string> args = {"lifter", scratch.Write("lifter.yaml", c.lifter), "--to", "1", "--trace", trace};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ToolProcess tool(args, {});
    if (c.signal != 0) {
      ASSERT_TRUE(tool.WaitForOutput("[INFO] set pos")) << tool.output();
      tool.Signal(c.signal);
    }
    ASSERT_EQ(tool.Wait(), c.code) << tool.output();
    const std::vector<std::string> rows = TraceRows(trace, kLifterColumns);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().substr(rows.front().find(',') + 1).rfind(',', 0), std::string::npos) << "a lateness";
    if (c.options.empty()) {
      continue;
    }
    const std::string& out = tool.output();
    nlohmann::json outcome;
    ASSERT_NO_THROW(outcome = nlohmann::json::parse(out.substr(out.find("{\n")))) << out;
    EXPECT_EQ(outcome.at("exit_code"), c.code);
    EXPECT_EQ(outcome.at("trace"), trace);
    EXPECT_EQ(outcome.at("reached"), c.code == 0);
    EXPECT_EQ(outcome.at("ticks"), rows.size());  // the shutdown ended the timed-out move
    EXPECT_THAT(out, Not(HasSubstr("[INFO]")));
  }
}

TEST(ToolTest, GripperClosesOnAnObjectAndSettles) {
  Scratch scratch;
  const std::string trace = (scratch.path() / "motion.csv").string();
  const auto [code, out] =
      RunTool({"gripper", kExamples + "motors.yaml", "--motor", "2", "--to", "1", "--trace", trace},
              {{"VORN_MOTOR_SIM_FEETECH_OBSTACLE", "0.5"}});
  EXPECT_EQ(code, 0) << out;
  EXPECT_THAT(out, HasSubstr("The gripper has get cmd : 1"));
  EXPECT_THAT(out, HasSubstr("vorn-io: gripper settled after"));
  EXPECT_THAT(out, HasSubstr("vorn-io: gripper motor disabled and released"));
  const std::vector<std::string> rows = TraceRows(trace, "time_s,position,variance,settled");
  ASSERT_GE(rows.size(), 401U);
  EXPECT_EQ(rows.back().back(), '1');  // the poll that found rest
}

/// Where a description comes from that can be read only once.
enum class OneShot {
  kProcessSubstitution,  // a pipe named /dev/fd/N, as bash's `<(cat file)` gives it
  kFifo,                 // a named pipe with a writer that writes the text once
};

struct ReadOnceCase {
  const char* name;
  OneShot source;
  const char* example;
  std::vector<std::string> selector;
};

class ReadOnceTest : public testing::TestWithParam<ReadOnceCase> {};

TEST_P(ReadOnceTest, TheGripperIsBuiltFromTheTextReadOnce) {
  const ReadOnceCase& c = GetParam();
  std::ostringstream read;
  read << std::ifstream(kExamples + c.example).rdbuf();
  const std::string text = read.str();
  ASSERT_FALSE(text.empty());
  Scratch scratch;
  std::string path;
  int inherited = -1;
  pid_t writer = -1;
  if (c.source == OneShot::kProcessSubstitution) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fds[1]);
    inherited = fds[0];
    ASSERT_EQ(fcntl(inherited, F_SETFD, 0), 0);
    path = "/dev/fd/" + std::to_string(inherited);
  } else {
    path = scratch.path().string() + "/description.fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      const int fd = open(path.c_str(), O_WRONLY);
      static_cast<void>(write(fd, text.data(), text.size()));
      close(fd);
      _exit(0);
    }
  }
  std::vector<std::string> args{"gripper", path, "--to", "1"};
  args.insert(args.end(), c.selector.begin(), c.selector.end());
  ToolProcess tool(args, {{"VORN_MOTOR_SIM_FEETECH_OBSTACLE", "0.5"}});
  if (inherited >= 0) {
    close(inherited);
  }
  // A second reading of the path finds nothing (or waits for a writer that is gone).
  const int code = tool.Wait(std::chrono::seconds(60));
  if (writer > 0) {
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
  }
  EXPECT_EQ(code, 0) << tool.output();
  EXPECT_THAT(tool.output(), HasSubstr("Load gripper yamlfile success"));
  EXPECT_THAT(tool.output(), Not(HasSubstr("YAML Error")));
  EXPECT_THAT(tool.output(), HasSubstr("vorn-io: gripper settled after"));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ReadOnceTest,
    testing::Values(ReadOnceCase{"ProcessSubstitution", OneShot::kProcessSubstitution, "gripper.yaml", {}},
                    ReadOnceCase{"Fifo", OneShot::kFifo, "motors.yaml", {"--motor", "2"}}),
    [](const testing::TestParamInfo<ReadOnceCase>& param) { return param.param.name; });

struct StopCase {
  const char* name;
  int signal;
  bool ignored_at_start;  // then SIGTERM follows it, and ends the run
  int code;
  const char* received;
};

class StopSignalTest : public testing::TestWithParam<StopCase> {};

TEST_P(StopSignalTest, ShutsTheMotorDownBeforeExiting) {
  const StopCase& c = GetParam();
  Scratch scratch;
  std::vector<int> ignored;
  if (c.ignored_at_start) {
    ignored.push_back(c.signal);
  }
  ToolProcess tool({"lifter", scratch.Write("lifter.yaml", kLongLifter), "--to", "1"}, {}, false, ignored);
  ASSERT_TRUE(tool.WaitForOutput("[INFO] set pos")) << tool.output();
  tool.Signal(c.signal);
  if (c.ignored_at_start) {
    // Pending together, the lower-numbered signal is delivered first: had the
    // tool taken the ignored one over, it would be the one received.
    tool.Signal(SIGTERM);
  }
  EXPECT_EQ(tool.Wait(), c.code) << tool.output();
  const std::string& out = tool.output();
  const std::size_t received = out.find(std::string(c.received) + " received, shutting the device down");
  const std::size_t parked = out.find("vorn-io: motor parked and disabled");
  ASSERT_NE(received, std::string::npos) << out;
  ASSERT_NE(parked, std::string::npos) << out;
  EXPECT_LT(received, parked);
  EXPECT_THAT(out, Not(HasSubstr("Get to target pos")));
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest,
                         testing::Values(StopCase{"SIGINT", SIGINT, false, 130, "SIGINT"},
                                         StopCase{"SIGTERM", SIGTERM, false, 143, "SIGTERM"},
                                         StopCase{"SIGHUP", SIGHUP, false, 129, "SIGHUP"},
                                         StopCase{"SIGQUIT", SIGQUIT, false, 131, "SIGQUIT"},
                                         StopCase{"SIGUSR1", SIGUSR1, false, 138, "SIGUSR1"},
                                         StopCase{"SIGUSR2", SIGUSR2, false, 140, "SIGUSR2"},
                                         StopCase{"SIGTSTP", SIGTSTP, false, 148, "SIGTSTP"},
                                         StopCase{"IgnoredSIGHUPStaysIgnored", SIGHUP, true, 143, "SIGTERM"}),
                         [](const testing::TestParamInfo<StopCase>& param) { return param.param.name; });

TEST(ToolTest, AStopSignalDuringAHangEndsTheRunWithItsCode) {
  Scratch scratch;
  ToolProcess tool({"lifter", scratch.Write("lifter.yaml", kFastLongLifter), "--to", "1"},
                   {{"VORN_MOTOR_SIM_DAMIAO_HANG", "setEnable@1"}});
  ASSERT_TRUE(tool.WaitForOutput("[INFO] set pos")) << tool.output();
  tool.Signal(SIGINT);
  // The shutdown hangs in the disable for a second before the lifter gives
  // up on it: a second signal comes during the hang.
  ASSERT_TRUE(tool.WaitForOutput("SIGINT received")) << tool.output();
  tool.Signal(SIGTERM);
  EXPECT_EQ(tool.Wait(std::chrono::seconds(30)), 130) << tool.output();
  EXPECT_THAT(tool.output(), HasSubstr("vorn-io: still shutting the device down"));
  EXPECT_THAT(tool.output(), HasSubstr("vorn-io: the motor call setEnable has not returned"));
  EXPECT_THAT(tool.output(), Not(HasSubstr("parked and disabled")));
}

}  // namespace
