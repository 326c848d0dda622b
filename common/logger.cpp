#include "vorn_io/logger.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/sinks/systemd_sink.h>

namespace quorvane {
namespace {

struct LevelName {
  const char* name;
  spdlog::level::level_enum level;
};

// Matched exactly: "warning", not "warn", and no entry for "off".
constexpr LevelName kLevelNames[] = {
    {"trace", spdlog::level::trace},  {"debug", spdlog::level::debug}, {"info", spdlog::level::info},
    {"warning", spdlog::level::warn}, {"error", spdlog::level::err},   {"critical", spdlog::level::critical},
};

// Configuration notices go straight to standard output, ahead of any line.
void Notice(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

bool IsExactly(const char* value, const char* expected) { return std::strcmp(value, expected) == 0; }

}  // namespace

Logger::Logger(const std::string& name) {
  std::vector<spdlog::sink_ptr> sinks;
  try {
    const char* to_stdout = std::getenv("SPDLOG_STDOUT");
    if (to_stdout == nullptr) {
      Notice("environment variable SPDLOG_STDOUT is not set, and set true\n");
      sinks.push_back(std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>());
    } else if (IsExactly(to_stdout, "true")) {
      sinks.push_back(std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>());
    } else if (!IsExactly(to_stdout, "false")) {
      Notice("environment variable SPDLOG_STDOUT is invalid, and set true\n");
      sinks.push_back(std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>());
    }

    const char* to_journal = std::getenv("SPDLOG_SYSTEMD");
    if (to_journal == nullptr) {
      Notice("environment variable SPDLOG_SYSTEMD is not set, and set false\n");
    } else if (IsExactly(to_journal, "true")) {
      sinks.push_back(std::make_shared<spdlog::sinks::systemd_sink_mt>());
    } else if (!IsExactly(to_journal, "false")) {
      Notice("environment variable SPDLOG_SYSTEMD is invalid, and set false\n");
    }

    auto logger = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    std::atomic_store(&logger_, logger);

    spdlog::level::level_enum level = spdlog::level::info;
    const char* level_name = std::getenv("SPDLOG_LEVEL");
    if (level_name == nullptr) {
      Notice("environment variable SPDLOG_LEVEL is not set, and set default level\n");
    } else {
      bool found = false;
      for (const LevelName& entry : kLevelNames) {
        if (IsExactly(level_name, entry.name)) {
          level = entry.level;
          found = true;
          break;
        }
      }
      if (!found) {
        Notice("environment variable SPDLOG_LEVEL is invalid, and set default level\n");
      }
    }
    level_ = level;
    logger->set_level(level);
    logger->set_formatter(std::make_unique<spdlog::pattern_formatter>("%v"));
  } catch (const spdlog::spdlog_ex&) {
    // Setup keeps whatever it reached; an empty logger_ makes every line a no-op.
  }
}

Logger::~Logger() { std::atomic_store(&logger_, std::shared_ptr<spdlog::logger>()); }

std::shared_ptr<spdlog::logger> Logger::GetLogger() const { return std::atomic_load(&logger_); }

std::uint8_t Logger::NextSequence(int level) {
  if (level_ <= level) {
    return static_cast<std::uint8_t>(sequence_.fetch_add(1, std::memory_order_relaxed) + 1U);
  }
  return sequence_.load(std::memory_order_relaxed);
}

}  // namespace quorvane
