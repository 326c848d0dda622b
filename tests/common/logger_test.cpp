// The logger in this process: its listeners, its configuration from code, and
// the console's bytes as standard output takes them. Every case sets the
// configuration it needs and counts numbers from a line of its own.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/args.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "child_process.h"
#include "log_lines.h"
#include "test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"

namespace {

using quorvane::Logger;
using quorvane::LogLine;
using quorvane::LogListener;

unsigned After(unsigned number) { return (number + 1) % 128; }

std::vector<LogLine> Drain(LogListener& listener) {
  std::vector<LogLine> lines;
  LogLine line;
  while (listener.Next(line)) {
    lines.push_back(line);
  }
  return lines;
}

/// Standard output goes to `fd` until destruction.
class StdoutTo {
 public:
  explicit StdoutTo(int fd) : saved_(dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    dup2(fd, STDOUT_FILENO);
  }
  ~StdoutTo() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  StdoutTo(const StdoutTo&) = delete;
  StdoutTo& operator=(const StdoutTo&) = delete;

 private:
  int saved_;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t got = 0; (got = read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

TEST(LogListenerTest, EveryLineInNumberOrderFromSeveralThreads) {
  Logger::Configure({false, false, spdlog::level::info});
  constexpr int kThreads = 4;
  constexpr int kLines = 500;
  LogListener listener(kThreads * kLines);
  // Taken out while the lines come, as a host's thread would.
  std::vector<LogLine> heard;
  std::atomic<bool> logging{true};
  std::thread reader([&] {
    LogLine line;
    while (listener.Next(line, std::chrono::milliseconds(20)) || logging.load()) {
      if (!line.text.empty()) {
        heard.push_back(line);
        line = LogLine{};
      }
    }
  });
  std::atomic<int> call_line{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &call_line] {
      for (int i = 0; i < kLines; ++i) {
        // clang-format off
        LOG_INFO("t{} {}", t, i); call_line.store(__LINE__);
        // clang-format on
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  logging.store(false);
  reader.join();

  ASSERT_EQ(heard.size(), static_cast<std::size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (std::size_t k = 0; k < heard.size(); ++k) {
    const LogLine& line = heard[k];
    if (k > 0) {
      ASSERT_EQ(line.number, After(heard[k - 1].number)) << "line " << k << ": " << line.text;
    }
    const int thread = line.text[line.message_at + 1] - '0';
    ASSERT_TRUE(thread >= 0 && thread < kThreads) << line.text;
    EXPECT_EQ(line.Message(), fmt::format("t{} {}", thread, next[thread]++));
    EXPECT_EQ(line.text, fmt::format("{:3d} [INFO] {}", line.number, line.Message()));
    EXPECT_EQ(line.level, spdlog::level::info);
    EXPECT_EQ(line.line, call_line.load());
    EXPECT_EQ(line.function, "operator()");
    EXPECT_NE(line.file.find("logger_test.cpp"), std::string::npos) << line.file;
    EXPECT_EQ(line.dropped, 0U);
  }
}

// A listener nobody reads: a lifter's ticks at 1 kHz and a flood of lines go
// on as if it were not there, and once it takes lines again it learns how
// many it lost, numbered in order with what follows.
TEST(LogListenerTest, AFullListenerHoldsNoCallAndIsToldWhatItLost) {
  Logger::Configure({false, false, spdlog::level::info});
  constexpr std::size_t kRoom = 16;
  constexpr int kFlood = 2000;
  LogListener slow(kRoom);
  LogListener everything(1U << 15U);
  const auto start = std::chrono::steady_clock::now();
  auto lifter = std::make_unique<UpdownLifter>(
      YAML::Load("{vendor: damiao, dev_name: listener-slow, freq: 1000, speed: 10.0, maxpos: 2.0}"));
  ASSERT_EQ(lifter->setIoStatus(1), 0);
  for (int i = 0; i < kFlood; ++i) {
    LOG_INFO("flood {}", i);
  }
  EXPECT_EQ(vorn_io_test::WaitForEndOfMove(*lifter), 1);
  lifter.reset();
  const auto took = std::chrono::steady_clock::now() - start;
  // Had each line waited the stall bound for room, the flood alone would take 10 s.
  EXPECT_LT(took, std::chrono::milliseconds(kFlood * Logger::kStallBoundMs / 2));

  const std::vector<LogLine> all = Drain(everything);
  const std::vector<LogLine> kept = Drain(slow);
  ASSERT_GT(all.size(), static_cast<std::size_t>(kFlood));
  ASSERT_EQ(kept.size(), kRoom);
  for (std::size_t k = 0; k < kRoom; ++k) {
    EXPECT_EQ(kept[k].text, all[k].text);
  }
  LOG_WARN("after");
  const std::vector<LogLine> told = Drain(slow);
  ASSERT_EQ(told.size(), 2U);
  EXPECT_EQ(told[0].dropped, all.size() - kRoom);
  EXPECT_EQ(told[0].level, spdlog::level::warn);
  EXPECT_EQ(told[0].Message(),
            fmt::format("{} lines dropped: the output did not take them in time\r\n", all.size() - kRoom));
  EXPECT_EQ(told[0].number, After(all.back().number));
  EXPECT_EQ(told[1].Message(), "after");
  EXPECT_EQ(told[1].number, After(told[0].number));
}

struct ConfigurationCase {
  const char* name;
  /// "info:TEXT", "warn:TEXT", "error:TEXT", "level:NAME", "console:on|off".
  std::vector<std::string> steps;
  /// What a listener hears, in order.
  std::vector<std::string> heard;
  /// The console's bytes after the case's first line, "{N}" standing for the
  /// number N lines after that one, in three columns.
  const char* console;
};

void PrintTo(const ConfigurationCase& c, std::ostream* os) { *os << c.name; }

class ConfigurationTest : public testing::TestWithParam<ConfigurationCase> {};

TEST_P(ConfigurationTest, AppliesFromTheNextLine) {
  const ConfigurationCase& c = GetParam();
  const vorn_io_test::TempDir dir;
  const int file = open((dir.path() / "stdout").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(file, 0);
  std::vector<LogLine> heard;
  {
    const StdoutTo redirected(file);
    Logger::Configure({true, false, spdlog::level::info});
    LogListener listener;
    LOG_INFO("first");
    for (const std::string& step : c.steps) {
      const std::string what = step.substr(0, step.find(':'));
      const std::string arg = step.substr(step.find(':') + 1);
      if (what == "info") {
        LOG_INFO("{}", arg);
      } else if (what == "warn") {
        LOG_WARN("{}", arg);
      } else if (what == "error") {
        LOG_ERROR("{}", arg);
      } else if (what == "level") {
        Logger::Configure({std::nullopt, std::nullopt, spdlog::level::from_str(arg)});
      } else {
        ASSERT_EQ(what, "console");
        Logger::Configure({arg == "on", std::nullopt, std::nullopt});
      }
    }
    heard = Drain(listener);
    Logger::Configure({false, false, spdlog::level::info});
  }
  lseek(file, 0, SEEK_SET);
  const std::string console = ReadAll(file);
  close(file);

  ASSERT_FALSE(heard.empty());
  ASSERT_EQ(heard.front().Message(), "first");
  std::vector<std::string> messages;
  for (std::size_t k = 1; k < heard.size(); ++k) {
    messages.emplace_back(heard[k].Message());
    EXPECT_EQ(heard[k].number, After(heard[k - 1].number)) << "filtered lines use no number: " << heard[k].text;
  }
  EXPECT_EQ(messages, c.heard);
  fmt::dynamic_format_arg_store<fmt::format_context> numbers;
  for (unsigned k = 0; k < 10; ++k) {
    numbers.push_back(fmt::format("{:3d}", (heard.front().number + k) % 128));
  }
  EXPECT_EQ(console, fmt::vformat(std::string("{0} [INFO] first\n") + c.console, numbers));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ConfigurationTest,
    testing::Values(ConfigurationCase{"LevelRaisedAndLowered",
                                      {"info:a", "level:warn", "info:b", "warn:c", "level:info", "info:d"},
                                      {"a", "c", "d"},
                                      "{1} [INFO] a\n{2} [WARN] c\n{3} [INFO] d\n"},
                    ConfigurationCase{"LevelOffSilencesAll",
                                      {"level:off", "error:a", "warn:b", "level:err", "warn:c", "error:d"},
                                      {"d"},
                                      "{1} [ERROR] d\n"},
                    // The console skips the number of the line it did not show; the listener does not.
                    ConfigurationCase{"ConsoleOffAndOn",
                                      {"info:a", "console:off", "info:b", "console:on", "info:c"},
                                      {"a", "b", "c"},
                                      "{1} [INFO] a\n{3} [INFO] c\n"},
                    // The payload is the message as given, then the console adds "\n".
                    ConfigurationCase{"LineBytes",
                                      {"warn:text\r\n", "error:", "info:{} {0:3d}"},
                                      {"text\r\n", "", "{} {0:3d}"},
                                      "{1} [WARN] text\r\n\n{2} [ERROR] \n{3} [INFO] {{}} {{0:3d}}\n"}),
    [](const testing::TestParamInfo<ConfigurationCase>& param) { return param.param.name; });

// A line longer than a pipe holds, into a pipe nobody reads: it is cut once
// the bound has passed, and whatever comes next starts a line of its own.
TEST(ConsoleTest, ALineCutByAStalledPipeEndsBeforeTheNextLine) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  const int room = fcntl(ends[1], F_SETPIPE_SZ, 4096);
  ASSERT_GT(room, 0);
  std::string text;
  {
    const StdoutTo redirected(ends[1]);
    Logger::Configure({true, false, spdlog::level::info});
    LOG_INFO("{}", std::string(static_cast<std::size_t>(room) * 3, 'x'));
    text = ReadAll(ends[0]);  // what the pipe took: the line's first part
    LOG_INFO("after the cut");
    Logger::Configure({false, false, spdlog::level::info});
  }
  text += ReadAll(ends[0]);
  close(ends[0]);
  close(ends[1]);

  const std::vector<std::string> lines = vorn_io_test::SplitLines(text);
  ASSERT_GE(lines.size(), 3U) << text;
  EXPECT_EQ(lines[0].size(), static_cast<std::size_t>(room)) << "the cut line is the pipe's worth, and ends there";
  std::vector<vorn_io_test::LogLine> after;
  for (std::size_t k = 1; k < lines.size(); ++k) {
    if (!lines[k].empty()) {  // the blank after a message ending in "\r\n"
      const auto line = vorn_io_test::ParseLogLine(lines[k]);
      ASSERT_TRUE(line) << "not a line of its own: '" << lines[k] << "'";
      after.push_back(*line);
    }
  }
  ASSERT_EQ(after.size(), 2U) << text;
  EXPECT_EQ(after[0].dropped, 1);
  EXPECT_EQ(after[1].text, "after the cut");
}

}  // namespace
