#pragma once

#include "vorn_io/logger.h"

namespace vorn_io_bench {

/// Configures the logger from code before its first line: the level named
/// (spdlog's names), the journal off, the console as `console` says.
inline void ConfigureLogger(const char* level, bool console = false) {
  quorvane::Logger::Configure({console, false, spdlog::level::from_str(level)});
}

}  // namespace vorn_io_bench
