// The logger's configuration from the environment, and from code before its
// first line, on the console byte for byte. The logger reads its environment
// once per process, so every case runs the log child in a process of its own.

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

constexpr const char kStdoutNotSet[] = "environment variable SPDLOG_STDOUT is not set, and set true\n";
constexpr const char kStdoutInvalid[] = "environment variable SPDLOG_STDOUT is invalid, and set true\n";
constexpr const char kSystemdNotSet[] = "environment variable SPDLOG_SYSTEMD is not set, and set false\n";
constexpr const char kSystemdInvalid[] = "environment variable SPDLOG_SYSTEMD is invalid, and set false\n";
constexpr const char kLevelNotSet[] = "environment variable SPDLOG_LEVEL is not set, and set default level\n";
constexpr const char kLevelInvalid[] = "environment variable SPDLOG_LEVEL is invalid, and set default level\n";

// Console on, journal off, default level, with nothing said about any of it.
const Env kQuiet{{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}};

Env QuietWith(const std::string& name, const std::string& value) {
  Env env;
  for (const auto& entry : kQuiet) {
    env.emplace_back(entry.first, entry.first == name ? value : entry.second);
  }
  return env;
}

Env QuietWithout(const std::string& name) {
  Env env;
  for (const auto& entry : kQuiet) {
    if (entry.first != name) {
      env.push_back(entry);
    }
  }
  return env;
}

std::string RunScript(const Env& env, const std::vector<std::string>& commands, bool background) {
  vorn_io_test::ChildOptions options;
  options.env = env;
  options.dropped_prefixes = {"SPDLOG_"};
  options.on_terminal = background;
  options.background = background;
  const vorn_io_test::ChildResult child = vorn_io_test::RunChild(VORN_IO_LOG_CHILD, commands, options);
  EXPECT_EQ(child.code, 0) << child.err;
  return child.out;
}

struct ConsoleCase {
  const char* name;
  Env env;
  std::vector<std::string> commands;
  std::string expected;
  // A background job on a terminal that stops background writers (`stty tostop`).
  bool background = false;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ConsoleCase& c, std::ostream* os) { *os << c.name; }

class ConsoleOutput : public testing::TestWithParam<ConsoleCase> {};

TEST_P(ConsoleOutput, IsExactly) {
  const ConsoleCase& c = GetParam();
  EXPECT_EQ(RunScript(c.env, c.commands, c.background), c.expected);
}

std::string CaseName(const testing::TestParamInfo<ConsoleCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Configuration, ConsoleOutput,
    testing::Values(
        ConsoleCase{"NothingSet",
                    {},
                    {"info:a"},
                    std::string(kStdoutNotSet) + kSystemdNotSet + kLevelNotSet + "  1 [INFO] a\n"},
        ConsoleCase{"AllValid", kQuiet, {"info:a"}, "  1 [INFO] a\n"},
        // The terminal's line discipline ends the line with "\r\n".
        ConsoleCase{"BackgroundJobOnAStoppingTerminal", kQuiet, {"info:a"}, "  1 [INFO] a\r\n", true},
        ConsoleCase{"StdoutCapitalTrue",
                    QuietWith("SPDLOG_STDOUT", "TRUE"),
                    {"info:a"},
                    std::string(kStdoutInvalid) + "  1 [INFO] a\n"},
        ConsoleCase{
            "StdoutEmpty", QuietWith("SPDLOG_STDOUT", ""), {"info:a"}, std::string(kStdoutInvalid) + "  1 [INFO] a\n"},
        ConsoleCase{"StdoutFalse", QuietWith("SPDLOG_STDOUT", "false"), {"info:a", "warn:b", "error:c"}, ""},
        // The notices are written directly, so they appear without a console sink.
        ConsoleCase{"StdoutFalseOthersNotSet",
                    {{"SPDLOG_STDOUT", "false"}},
                    {"info:a"},
                    std::string(kSystemdNotSet) + kLevelNotSet},
        ConsoleCase{"SystemdNotSet",
                    QuietWithout("SPDLOG_SYSTEMD"),
                    {"info:a"},
                    std::string(kSystemdNotSet) + "  1 [INFO] a\n"},
        ConsoleCase{"SystemdInvalid",
                    QuietWith("SPDLOG_SYSTEMD", "yes"),
                    {"info:a"},
                    std::string(kSystemdInvalid) + "  1 [INFO] a\n"},
        ConsoleCase{
            "LevelNotSet", QuietWithout("SPDLOG_LEVEL"), {"info:a"}, std::string(kLevelNotSet) + "  1 [INFO] a\n"},
        ConsoleCase{"LevelWarnIsNotAName",
                    QuietWith("SPDLOG_LEVEL", "warn"),
                    {"info:a"},
                    std::string(kLevelInvalid) + "  1 [INFO] a\n"},
        ConsoleCase{"LevelOffIsNotAName",
                    QuietWith("SPDLOG_LEVEL", "off"),
                    {"info:a"},
                    std::string(kLevelInvalid) + "  1 [INFO] a\n"},
        ConsoleCase{"LevelNamesAreCaseSensitive",
                    QuietWith("SPDLOG_LEVEL", "Error"),
                    {"info:a"},
                    std::string(kLevelInvalid) + "  1 [INFO] a\n"},
        ConsoleCase{"LevelTrace", QuietWith("SPDLOG_LEVEL", "trace"), {"info:a"}, "  1 [INFO] a\n"},
        ConsoleCase{"LevelDebug", QuietWith("SPDLOG_LEVEL", "debug"), {"info:a"}, "  1 [INFO] a\n"},
        ConsoleCase{"LevelWarning",
                    QuietWith("SPDLOG_LEVEL", "warning"),
                    {"info:a", "warn:b", "info:c", "error:d"},
                    "  1 [WARN] b\n  2 [ERROR] d\n"},
        // Filtered calls use no numbers: the error lines count 1, 2, 3.
        ConsoleCase{"LevelError",
                    QuietWith("SPDLOG_LEVEL", "error"),
                    {"info:a", "warn:b", "error:c", "info:d", "warn:e", "error:f", "error:g"},
                    "  1 [ERROR] c\n  2 [ERROR] f\n  3 [ERROR] g\n"},
        ConsoleCase{"LevelCritical", QuietWith("SPDLOG_LEVEL", "critical"), {"info:a", "warn:b", "error:c"}, ""}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    FromCode, ConsoleOutput,
    testing::Values(
        // The environment is read once, at the first line.
        ConsoleCase{"LateEnvironmentChanges",
                    {{"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}},
                    {"info:a", "setenv:SPDLOG_STDOUT=false", "setenv:SPDLOG_LEVEL=critical", "unsetenv:SPDLOG_SYSTEMD",
                     "info:b", "error:c"},
                    std::string(kStdoutNotSet) + "  1 [INFO] a\n  2 [INFO] b\n  3 [ERROR] c\n"},
        // Configured before the first line: nothing said about a variable left
        // unset, nor about one the code overrode; an invalid one it left open is.
        ConsoleCase{"ConfiguredBeforeTheFirstLine", {}, {"configure:level=warn", "info:a", "warn:b"}, "  1 [WARN] b\n"},
        ConsoleCase{"ConfiguredOverInvalidValues",
                    {{"SPDLOG_STDOUT", "TRUE"}, {"SPDLOG_SYSTEMD", "yes"}, {"SPDLOG_LEVEL", "loud"}},
                    {"configure:console=true,level=info", "info:a"},
                    std::string(kSystemdInvalid) + "  1 [INFO] a\n"},
        ConsoleCase{"ConsoleOnFromCodeOverTheEnvironment",
                    QuietWith("SPDLOG_STDOUT", "false"),
                    {"info:a", "configure:console=true", "info:b"},
                    "  2 [INFO] b\n"},
        // Configured after the first line: the notices came with it.
        ConsoleCase{"ConfiguredAfterTheFirstLine",
                    {},
                    {"info:a", "configure:level=error", "info:b", "warn:c", "error:d", "configure:level=off", "error:e",
                     "configure:level=info", "info:f"},
                    std::string(kStdoutNotSet) + kSystemdNotSet + kLevelNotSet +
                        "  1 [INFO] a\n  2 [ERROR] d\n  3 [INFO] f\n"}),
    CaseName);

}  // namespace
