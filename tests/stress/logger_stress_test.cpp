#include <array>
#include <csignal>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "child_process.h"
#include "flood_line.h"
#include "log_lines.h"

namespace {

using vorn_io_test::ChildOptions;
using vorn_io_test::RunChild;

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 1000;

TEST(LoggerStress, ConcurrentLinesStayWholeAndEachNumberIsUsedOnce) {
  ChildOptions options;
  options.env = {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}};
  const auto child = RunChild(VORN_IO_LOG_CHILD, {fmt::format("flood:{}:{}", kThreads, kLinesPerThread)}, options);
  ASSERT_TRUE(child.exited) << "signal " << child.signal << "\n" << child.err;
  ASSERT_EQ(child.exit_code, 0) << child.err;

  const std::vector<std::string> lines = vorn_io_test::SplitLines(child.out);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesPerThread));

  // The number is right-aligned in three columns: "  7", " 42", "127".
  const std::regex line_format(R"(^(  [0-9]| [1-9][0-9]|1[0-2][0-9]) \[INFO\] flood ([0-9]+) ([0-9]+) ([a-z]+)$)");
  std::array<int, 128> number_uses{};
  std::vector<int> next_line(kThreads, 0);
  for (const std::string& line : lines) {
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, line_format)) << "malformed line: " << line;
    const int number = std::stoi(parts[1].str());
    ASSERT_LE(number, 127) << line;
    ++number_uses[static_cast<std::size_t>(number)];
    const int thread = std::stoi(parts[2].str());
    const int index = std::stoi(parts[3].str());
    ASSERT_LT(thread, kThreads) << line;
    // One thread's lines come out in the order it logged them, each once.
    ASSERT_EQ(index, next_line[static_cast<std::size_t>(thread)]) << line;
    ++next_line[static_cast<std::size_t>(thread)];
    ASSERT_EQ(parts[4].str(), vorn_io_test::FloodPadding(thread, index)) << line;
  }

  // Lines 1 to 8000 of a fresh process carry their number modulo 128; a lost
  // or doubled increment would shift these counts.
  std::array<int, 128> expected_uses{};
  for (int k = 1; k <= kThreads * kLinesPerThread; ++k) {
    ++expected_uses[static_cast<std::size_t>(k % 128)];
  }
  EXPECT_EQ(number_uses, expected_uses);
}

// Both outputs on, the journal a socket read as fast as it can be: in each
// output, every line carries the number after the previous line's. The one
// gap allowed: a number the other output spent on its dropped-lines line (a
// busy machine may keep the journal's reader away longer than the bound).
TEST(LoggerStress, NumbersRunInOrderInEachOutput) {
  ChildOptions options;
  options.env = {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "true"}, {"SPDLOG_LEVEL", "info"}};
  options.journal = ChildOptions::Journal::kRead;
  const auto child = RunChild(VORN_IO_LOG_CHILD, {fmt::format("flood:{}:{}", kThreads, kLinesPerThread)}, options);
  if (child.exited && child.exit_code == vorn_io_test::kNoNamespaceExit) {
    GTEST_SKIP() << "no permission for a mount namespace: no journal socket of the test's own";
  }
  ASSERT_TRUE(child.exited) << "signal " << child.signal << "\n" << child.err;
  ASSERT_EQ(child.exit_code, 0) << child.err;

  std::vector<std::string> journal_messages;
  for (const std::string& datagram : child.journal) {
    journal_messages.push_back(vorn_io_test::JournalMessage(datagram));
  }
  const std::vector<std::string> console_messages = vorn_io_test::SplitLines(child.out);
  const std::array<const std::vector<std::string>*, 2> outputs{&console_messages, &journal_messages};
  std::array<std::vector<vorn_io_test::LogLine>, 2> lines;
  std::array<std::set<int>, 2> notice_numbers;
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    for (const std::string& message : *outputs[o]) {
      if (message.empty()) {
        continue;  // the blank after a dropped-lines line, which ends in "\r\n"
      }
      const auto line = vorn_io_test::ParseLogLine(message);
      ASSERT_TRUE(line) << "output " << o << ": not a whole line: " << message;
      if (line->dropped) {
        notice_numbers[o].insert(line->number);
      }
      lines[o].push_back(*line);
    }
  }
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    ASSERT_GT(lines[o].size(), static_cast<std::size_t>(kThreads * kLinesPerThread / 2)) << "output " << o;
    const std::set<int>& spent_elsewhere = notice_numbers[1 - o];
    for (std::size_t i = 1; i < lines[o].size(); ++i) {
      int expected = (lines[o][i - 1].number + 1) % 128;
      while (expected != lines[o][i].number && spent_elsewhere.count(expected) != 0 && !lines[o][i].dropped) {
        expected = (expected + 1) % 128;
      }
      if (lines[o][i].dropped) {
        continue;  // lines were lost just before it; it says how many
      }
      ASSERT_EQ(lines[o][i].number, expected) << "output " << o << ", line " << i << ": '" << lines[o][i].text
                                              << "' after '" << lines[o][i - 1].text << "'";
    }
  }
}

// Standard output a pipe that nobody reads for 3 s: the flood, a lifter's
// whole move at 1 kHz and its deletion are done long before; once the pipe
// is read, one line says what was lost.
TEST(LoggerStress, StalledConsoleHoldsNobody) {
  constexpr int kFlood = 5000;  // far more than a pipe holds
  ChildOptions options;
  options.env = {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}};
  options.output = ChildOptions::Output::kReadLate;
  const auto child = RunChild(VORN_IO_LOG_CHILD, {fmt::format("stall:console:{}", kFlood)}, options);
  ASSERT_TRUE(child.exited) << "signal " << child.signal << "\n" << child.err;
  ASSERT_EQ(child.exit_code, 0) << child.err;
  std::smatch held;
  ASSERT_TRUE(std::regex_search(child.err, held, std::regex("held ([0-9]+) ms"))) << child.err;
  EXPECT_LT(std::stoi(held[1].str()), options.late_ms * 2 / 3) << "the log calls waited for the reader";
  EXPECT_EQ(vorn_io_test::StallFindings(vorn_io_test::SplitLines(child.out), kFlood), "");
}

// The reader has gone before the first line: every line is lost, quietly,
// and the process lives on (SIGPIPE at its default, fatal disposition).
TEST(LoggerStress, ReaderGoneRaisesNoSigpipe) {
  ChildOptions options;
  options.env = {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}};
  options.output = ChildOptions::Output::kNoReader;
  const auto child = RunChild(VORN_IO_LOG_CHILD, {"flood:2:50"}, options);
  EXPECT_NE(child.signal, SIGPIPE);
  EXPECT_TRUE(child.exited) << "signal " << child.signal << "\n" << child.err;
  EXPECT_EQ(child.exit_code, 0) << child.err;
}

}  // namespace
