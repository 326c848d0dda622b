// Two modules built with the logger header, this test program and a plugin
// loaded at run time, must share one logger and so one line counter.

#include <dlfcn.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vorn_io/logger.h"

namespace {

struct Line {
  int number;
  std::string text;
};

std::vector<Line> InfoLines(const std::string& out) {
  const std::regex form(R"(([ \d]{2}\d) \[INFO\] (.*))");
  std::vector<Line> lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) {
    std::smatch match;
    if (std::regex_match(line, match, form)) {
      lines.push_back({std::stoi(match[1].str()), match[2].str()});
    }
  }
  return lines;
}

TEST(LoggerAcrossModules, PluginContinuesTheNumbering) {
  // The logger does not exist yet in this process; it reads these at its first line.
  setenv("SPDLOG_STDOUT", "true", 1);
  setenv("SPDLOG_SYSTEMD", "false", 1);
  unsetenv("SPDLOG_LEVEL");
  testing::internal::CaptureStdout();
  LOG_INFO("host line {}", 1);

  void* plugin = dlopen(VORN_IO_LOG_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(plugin, nullptr) << dlerror();
  using LogFn = void (*)(int);
  using LoggerFn = const void* (*)();
  const auto plugin_log = reinterpret_cast<LogFn>(dlsym(plugin, "vorn_io_test_plugin_log"));
  const auto plugin_logger = reinterpret_cast<LoggerFn>(dlsym(plugin, "vorn_io_test_plugin_logger"));
  ASSERT_NE(plugin_log, nullptr) << dlerror();
  ASSERT_NE(plugin_logger, nullptr) << dlerror();

  plugin_log(2);
  LOG_INFO("host line {}", 2);
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(plugin_logger(), &quorvane::Logger::Instance());
  const std::vector<Line> lines = InfoLines(out);
  ASSERT_EQ(lines.size(), 4U) << out;
  const char* const expected_texts[] = {"host line 1", "plugin line 1", "plugin line 2", "host line 2"};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].text, expected_texts[i]);
    EXPECT_EQ(lines[i].number, (lines[0].number + static_cast<int>(i)) % 128) << out;
  }
  // One logger also means one configuration: its notice appears once.
  std::size_t notices = 0;
  for (std::size_t at = out.find("environment variable SPDLOG_LEVEL"); at != std::string::npos;
       at = out.find("environment variable SPDLOG_LEVEL", at + 1)) {
    ++notices;
  }
  EXPECT_EQ(notices, 1U) << out;
  dlclose(plugin);
}

}  // namespace
