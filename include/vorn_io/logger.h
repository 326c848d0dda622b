#pragma once

#include <cstddef>
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
/// Order: a line's number is taken under one lock that also covers writing it
/// to the console and to the journal, so in each output the line numbered
/// N + 1 never comes before the line numbered N, and both outputs carry the
/// same number for a line.
///
/// Stalled outputs: no log call is held longer than `kStallBoundMs` (5 ms)
/// by an output that does not take its line, such as a pipe nobody reads, a
/// stopped terminal or a journal whose queue is full. The wait for the lock
/// counts: a call queued behind one that waits for a stalled output waits no
/// longer than that call's bound, and while an output is not taking lines a
/// call gives up on the lock at its own bound, its line counted as dropped.
/// (A lock holder that is merely slow, say preempted on a busy machine, is
/// waited for.) While outputs take lines, each line is written
/// (and flushed) before the call returns. A line an output does not take in time is dropped whole for that output and
/// counted, and later lines to it are dropped at once, without waiting, until it takes lines again; then one line "N
/// lines dropped: the output did not take them in time", numbered like any other, goes to that output alone (the
/// numbers there skip). A line longer than PIPE_BUF that a pipe takes only in part is finished as room appears within
/// the bound; failing that it is cut, counted among the dropped lines, and ended with "\n" before the next line. The
/// host never sees SIGPIPE from the logger.
///
/// The instance is created on first use and never destroyed, so a log call
/// during process exit (a lifter's tick, a static destructor) is safe. It is
/// reached through a function-local static of the inline `Instance()`, with
/// default visibility, so every module built with this header binds to the
/// same logger and continues the same numbering.
class VORN_IO_EXPORT Logger {
 public:
  static constexpr int kStallBoundMs = 5;

  static Logger& Instance() {
    static Logger& instance = *new Logger("spdlog");
    return instance;
  }

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;
  Logger(Logger&&) = delete;
  Logger& operator=(Logger&&) = delete;

  /// A second handle on the spdlog logger (name, sinks, level, pattern).
  /// Empty if setup failed early. Lines written through it directly bypass
  /// the numbering and the lock that orders the outputs.
  std::shared_ptr<spdlog::logger> GetLogger() const;

  /// Uses up the next sequence number if `level` passes the configured level,
  /// and returns it; otherwise returns the present number unchanged.
  std::uint8_t NextSequence(int level);

  /// Whether a line of `level` is emitted at all.
  bool ShouldLog(int level) const noexcept { return level_ <= level; }

  /// Writes one emitted line. `payload` is the whole line with its first
  /// three characters kept free for the number, which is filled in here,
  /// under the lock that orders the outputs.
  void Write(spdlog::level::level_enum level, const spdlog::source_loc& where, char* payload, std::size_t size);

 private:
  struct Outputs;

  explicit Logger(const std::string& name);
  ~Logger();

  std::shared_ptr<spdlog::logger> logger_;
  std::uint8_t sequence_ = 0;  // under the outputs' lock
  int level_ = spdlog::level::info;
  Outputs* outputs_ = nullptr;  // never released, like the logger itself
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

// "    [TAG] ": three columns for the number (filled in by Logger::Write), a
// blank, the tag and a blank.
inline void AppendPrefix(fmt::memory_buffer& payload, const char* tag) {
  constexpr char kNumberRoom[] = "    ";
  payload.append(kNumberRoom, kNumberRoom + 4);
  payload.append(tag, tag + std::char_traits<char>::length(tag));
  payload.push_back(' ');
}

template <typename Format, typename... Args>
void Emit(spdlog::level::level_enum level, const spdlog::source_loc& where, const Format& format, Args&&... args) {
  fmt::memory_buffer payload;
  AppendPrefix(payload, LevelTag(level));
  // Straight into the buffer (fmt::appender), not through a generic iterator.
  fmt::format_to(fmt::appender(payload), format, std::forward<Args>(args)...);
  Logger::Instance().Write(level, where, payload.data(), payload.size());
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
