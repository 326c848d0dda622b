#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "child_process.h"
#include "log_lines.h"

namespace {

using vorn_io_test::ChildOptions;
using vorn_io_test::RunChild;

constexpr int kLines = 20;
constexpr int kTicks = 20;

// Runs the logging child with the journal sink on and the journal hidden as
// `journal` says; checks that every console line is whole, and that no
// exception reached the host's thread (exit code 3) or the timer's
// (std::terminate). Returns the child's standard error; nothing when the
// journal could not be hidden for want of privileges.
std::optional<std::string> ConsoleStaysWhole(ChildOptions::Journal journal) {
  ChildOptions options;
  options.env = {{"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "true"}, {"SPDLOG_LEVEL", "info"}};
  options.journal = journal;
  const auto child = RunChild(VORN_IO_LOG_CHILD, {fmt::format("timer:{}:{}", kLines, kTicks)}, options);
  if (child.exited && child.exit_code == vorn_io_test::kNoNamespaceExit) {
    return std::nullopt;
  }
  EXPECT_TRUE(child.exited) << "signal " << child.signal << "\n" << child.err;
  EXPECT_EQ(child.exit_code, 0) << child.err;

  // Each message ends in "\r\n" and the console adds "\n": a line, then an empty one.
  const std::regex main_line(R"(^[ 0-9]{2}[0-9] \[WARN\] main ([0-9]+)\r$)");
  const std::regex tick_line(R"(^[ 0-9]{2}[0-9] \[INFO\] tick ([0-9]+)\r$)");
  int mains = 0;
  int ticks = 0;
  const std::vector<std::string> lines = vorn_io_test::SplitLines(child.out);
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(2 * (kLines + kTicks))) << child.out;
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
    std::smatch parts;
    if (std::regex_match(lines[i], parts, main_line)) {
      EXPECT_EQ(std::stoi(parts[1].str()), mains++);
    } else if (std::regex_match(lines[i], parts, tick_line)) {
      EXPECT_EQ(std::stoi(parts[1].str()), ticks++);
    } else {
      ADD_FAILURE() << "malformed line: " << lines[i];
    }
    EXPECT_EQ(lines[i + 1], "");
  }
  EXPECT_EQ(mains, kLines);
  EXPECT_EQ(ticks, kTicks);
  return child.err;
}

constexpr const char* kNoNamespace =
    "no permission for a mount namespace (unshare/mount): the journal cannot be hidden";

// A journal socket file that nobody listens on: each entry is refused, and
// spdlog's error handler says so on standard error.
TEST(JournalFault, JournalNotListening) {
  const std::optional<std::string> err = ConsoleStaysWhole(ChildOptions::Journal::kNotListening);
  if (!err) {
    GTEST_SKIP() << kNoNamespace;
  }
  EXPECT_NE(err->find("Failed writing to systemd"), std::string::npos) << *err;
}

// No journal socket at all: libsystemd drops the entries without an error.
TEST(JournalFault, NoJournalSocket) {
  if (!ConsoleStaysWhole(ChildOptions::Journal::kAbsent)) {
    GTEST_SKIP() << kNoNamespace;
  }
}

// The journal restarted between two lines (its socket made anew at the same
// path): the line after it reaches the new journal, and nothing is reported.
TEST(JournalFault, JournalRecreatedBetweenTwoLines) {
  ChildOptions options;
  options.env = {{"SPDLOG_STDOUT", "false"}, {"SPDLOG_SYSTEMD", "true"}, {"SPDLOG_LEVEL", "info"}};
  options.journal = ChildOptions::Journal::kRecreated;
  const auto child =
      RunChild(VORN_IO_LOG_CHILD,
               {"info:before", std::string("await:") + vorn_io_test::kJournalRecreated, "info:after"}, options);
  if (child.exited && child.exit_code == vorn_io_test::kNoNamespaceExit) {
    GTEST_SKIP() << kNoNamespace;
  }
  ASSERT_EQ(child.code, 0) << child.err;
  std::vector<std::string> messages;
  for (const std::string& datagram : child.journal) {
    messages.push_back(vorn_io_test::JournalMessage(datagram));
  }
  EXPECT_EQ(messages, (std::vector<std::string>{"  1 [INFO] before", "  2 [INFO] after"}));
  EXPECT_EQ(child.err, "");
}

// A journal socket that nobody reads for 3 s (its queue full after a few
// entries): the flood, a lifter's move at 1 kHz and its deletion are done long
// before, and once the journal is read one entry says what was lost.
TEST(JournalFault, StalledJournalHoldsNobody) {
  constexpr int kFlood = 2000;
  ChildOptions options;
  options.env = {{"SPDLOG_STDOUT", "false"}, {"SPDLOG_SYSTEMD", "true"}, {"SPDLOG_LEVEL", "info"}};
  options.journal = ChildOptions::Journal::kReadLate;
  const auto child = RunChild(VORN_IO_LOG_CHILD, {fmt::format("stall:journal:{}", kFlood)}, options);
  if (child.exited && child.exit_code == vorn_io_test::kNoNamespaceExit) {
    GTEST_SKIP() << kNoNamespace;
  }
  ASSERT_TRUE(child.exited) << "signal " << child.signal << "\n" << child.err;
  ASSERT_EQ(child.exit_code, 0) << child.err;
  std::smatch held;
  ASSERT_TRUE(std::regex_search(child.err, held, std::regex("held ([0-9]+) ms"))) << child.err;
  EXPECT_LT(std::stoi(held[1].str()), options.late_ms * 2 / 3) << "the log calls waited for the journal";
  std::vector<std::string> messages;
  for (const std::string& datagram : child.journal) {
    messages.push_back(vorn_io_test::JournalMessage(datagram));
  }
  EXPECT_EQ(vorn_io_test::StallFindings(messages, kFlood), "");
}

}  // namespace
