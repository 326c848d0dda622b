#pragma once

#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include <fmt/format.h>
#include <spdlog/common.h>
#include <spdlog/logger.h>

#include "vorn_io/export.h"

namespace quorvane {

/// The process-wide logger of vorn_io.
///
/// Built on first use from three environment variables, read once:
///   SPDLOG_STDOUT  "true" (default) or "false": numbered lines on standard output
///   SPDLOG_SYSTEMD "true" or "false" (default): one journal entry per line
///   SPDLOG_LEVEL   "trace", "debug", "info" (default), "warning", "error", "critical"
///
/// Every emitted line starts with a sequence number (0 to 127, three columns)
/// and a level tag. Lines are written through `LOG_INFO`, `LOG_WARN` and
/// `LOG_ERROR`; nothing else in the library talks to spdlog.
///
/// The instance is a function-local static of the inline `Instance()`, with
/// default visibility, so every module built with this header binds to the
/// same logger and continues the same numbering.
class VORN_IO_EXPORT Logger {
 public:
  static Logger& Instance() {
    static Logger instance("spdlog");
    return instance;
  }

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;
  Logger(Logger&&) = delete;
  Logger& operator=(Logger&&) = delete;

  /// A second handle on the spdlog logger, held for the duration of one line.
  /// Empty if setup failed early or the logger has already been destroyed.
  std::shared_ptr<spdlog::logger> GetLogger() const;

  /// Uses up the next sequence number if `level` passes the configured level,
  /// and returns it; otherwise returns the present number unchanged.
  std::uint8_t NextSequence(int level);

  /// Whether a line of `level` is emitted at all.
  bool ShouldLog(int level) const noexcept { return level_ <= level; }

 private:
  explicit Logger(const std::string& name);
  ~Logger();

  std::shared_ptr<spdlog::logger> logger_;
  std::atomic<std::uint8_t> sequence_{0};
  int level_ = spdlog::level::info;
};

namespace detail {

constexpr const char* LevelTag(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::warn:
      return "[WARN]";
    case spdlog::level::err:
      return "[ERROR]";
    default:
      return "[INFO]";
  }
}

// "NNN [TAG] ": the number right-aligned in three columns. Written by hand
// rather than through a second format call, since it runs for every line.
inline void AppendPrefix(fmt::memory_buffer& payload, unsigned number, const char* tag) {
  char digits[4] = {' ', ' ', ' ', ' '};
  int at = 2;
  do {
    digits[at--] = static_cast<char>('0' + number % 10U);
    number /= 10U;
  } while (number != 0U && at >= 0);
  payload.append(digits, digits + 4);
  payload.append(tag, tag + std::char_traits<char>::length(tag));
  payload.push_back(' ');
}

template <typename Format, typename... Args>
void Emit(spdlog::level::level_enum level, const spdlog::source_loc& where, const Format& format, Args&&... args) {
  Logger& logger = Logger::Instance();
  // A filtered line costs no formatting and uses no number.
  if (!logger.ShouldLog(level)) {
    return;
  }
  const std::shared_ptr<spdlog::logger> handle = logger.GetLogger();
  if (!handle) {
    return;
  }
  const unsigned number = logger.NextSequence(level) & 0x7fU;
  fmt::memory_buffer payload;
  AppendPrefix(payload, number, LevelTag(level));
  fmt::format_to(std::back_inserter(payload), format, std::forward<Args>(args)...);
  handle->log(where, level, spdlog::string_view_t(payload.data(), payload.size()));
}

}  // namespace detail
}  // namespace quorvane

// The format string is checked when the call is compiled: a placeholder that
// does not fit its argument is a build error, not a run-time exception. The
// level is tested at the call site, so a filtered line costs one comparison
// and evaluates none of its arguments' conversions.
#define LOG_INFO(format, ...)                                                                             \
  do {                                                                                                    \
    if (::quorvane::Logger::Instance().ShouldLog(::spdlog::level::info)) {                                \
      ::quorvane::detail::Emit(::spdlog::level::info, ::spdlog::source_loc{__FILE__, __LINE__, __func__}, \
                               FMT_STRING(format), ##__VA_ARGS__);                                        \
    }                                                                                                     \
  } while (false)
#define LOG_WARN(format, ...)                                                                             \
  do {                                                                                                    \
    if (::quorvane::Logger::Instance().ShouldLog(::spdlog::level::warn)) {                                \
      ::quorvane::detail::Emit(::spdlog::level::warn, ::spdlog::source_loc{__FILE__, __LINE__, __func__}, \
                               FMT_STRING(format), ##__VA_ARGS__);                                        \
    }                                                                                                     \
  } while (false)
#define LOG_ERROR(format, ...)                                                                           \
  do {                                                                                                   \
    if (::quorvane::Logger::Instance().ShouldLog(::spdlog::level::err)) {                                \
      ::quorvane::detail::Emit(::spdlog::level::err, ::spdlog::source_loc{__FILE__, __LINE__, __func__}, \
                               FMT_STRING(format), ##__VA_ARGS__);                                       \
    }                                                                                                    \
  } while (false)
