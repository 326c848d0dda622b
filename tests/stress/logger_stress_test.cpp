#include <array>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "flood_line.h"

namespace {

using vorn_io_test::ChildOptions;
using vorn_io_test::RunChild;

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 1000;

TEST(LoggerStress, ConcurrentLinesStayWholeAndEachNumberIsUsedOnce) {
  ChildOptions options;
  options.env = {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}};
  const auto child =
      RunChild(VORN_IO_LOG_CHILD, {"flood", std::to_string(kThreads), std::to_string(kLinesPerThread)}, options);
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

}  // namespace
