#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>
#include <spdlog/common.h>
#include <spdlog/logger.h>

#include "vorn_io/export.h"

namespace quorvane {

/// Settings a host gives the logger from code (`Logger::Configure`). A field
/// left empty leaves that setting as it is.
struct LogSettings {
  std::optional<bool> console;  ///< numbered lines on standard output
  std::optional<bool> journal;  ///< one systemd journal entry per line
  /// Lines below it are not emitted; `spdlog::level::off` emits none.
  std::optional<spdlog::level::level_enum> level;
};

/// One emitted line, as a `LogListener` receives it.
struct LogLine {
  unsigned number = 0;  ///< as printed: 0 to 127
  spdlog::level::level_enum level = spdlog::level::info;
  /// The whole line as the console shows it ("  7 [WARN] text"), without the
  /// "\n" the console adds.
  std::string text;
  std::size_t message_at = 0;  ///< where the message starts in `text`
  std::string file;            ///< source location of the log call
  int line = 0;
  std::string function;
  /// For the logger's own line "N lines dropped: ...": N. Otherwise 0.
  std::uint64_t dropped = 0;

  [[nodiscard]] std::string_view Message() const { return std::string_view(text).substr(message_at); }
};

/// The process-wide logger of vorn_io.
///
/// Configuration. Unless the host configures it from code, the logger reads
/// three environment variables once, when it comes into being (at the first
/// log call of the process):
///   SPDLOG_STDOUT  "true" (default) or "false": numbered lines on standard output
///   SPDLOG_SYSTEMD "true" or "false" (default): one journal entry per line
///   SPDLOG_LEVEL   "trace", "debug", "info" (default), "warning", "error", "critical"
/// and writes a notice to standard output for each one that is not set or is
/// invalid. `Configure` changes the outputs and the level from code, at any
/// time; see there for how it meets the environment.
///
/// Every emitted line starts with a sequence number (0 to 127, three columns)
/// and a level tag. Lines are written through `LOG_INFO`, `LOG_WARN` and
/// `LOG_ERROR`; nothing else in the library talks to spdlog.
///
/// Order: a line's number is taken under one lock that also covers writing it
/// to the console, to the journal and to every listener, so in each of them
/// the line numbered N + 1 never comes before the line numbered N, and all
/// carry the same number for a line. A configuration change takes the same
/// lock: it applies from the next line on and never reorders or renumbers one.
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
/// Listening: see `LogListener`.
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

  /// Whether a line of `level` is emitted at all. The level may change at
  /// run time (Configure) while other threads log: an atomic access, so no
  /// data race, on the plain `int` every host built with this header reads
  /// here (its layout is part of the ABI). Relaxed: the level orders nothing;
  /// `Write` checks it again under the lock that numbers the lines.
  bool ShouldLog(int level) const noexcept { return __atomic_load_n(&level_, __ATOMIC_RELAXED) <= level; }

  /// Gives the settings that `changes` holds; the others stay. Returns the
  /// settings in force before, every field filled.
  ///
  /// Called before the logger has come into being, it brings it into being:
  /// a setting `changes` gives is taken from it and its variable is not
  /// looked at, nor is anything said about it; the others come from their
  /// variables, a variable that is not set giving its default without a
  /// notice (the host configures the logger and left that one to it), an
  /// invalid one with its notice. The returned settings are then the
  /// environment's. Called later, it changes the outputs and the level from
  /// the next line on.
  ///
  /// Turning an output off and on again keeps its count of dropped lines. An
  /// output that cannot be opened (no socket for the journal) is reported on
  /// standard error as a write error is and stays off.
  static LogSettings Configure(const LogSettings& changes);

  /// Writes one emitted line. `payload` is the whole line with its first
  /// three characters kept free for the number, which is filled in here,
  /// under the lock that orders the outputs.
  void Write(spdlog::level::level_enum level, const spdlog::source_loc& where, char* payload, std::size_t size);

 private:
  struct Outputs;

  friend class LogListener;

  explicit Logger(const std::string& name);
  ~Logger();

  std::shared_ptr<spdlog::logger> logger_;
  std::uint8_t sequence_ = 0;  // under the outputs' lock
  int level_ = spdlog::level::info;
  Outputs* outputs_ = nullptr;  // never released, like the logger itself
};

/// Receives every line the logger emits from the moment it is made until it
/// is destroyed, for a host that puts the library's lines where its own go
/// (its framework's logger, a file, a screen it draws).
///
/// The contract:
/// - Pull, not push: a log call never runs the host's code. It copies the
///   line into this listener's buffer of `capacity` lines and returns; the
///   host takes lines out with `Next` in a thread of its own, at its own pace,
///   holding whatever locks it likes (an interpreter's lock, say) there and
///   never in a log call.
/// - Never a wait: a log call does not wait for room. A line that finds the
///   buffer full is dropped for this listener and counted, later lines are
///   dropped at once too, and once two lines fit again the listener first
///   receives one line "N lines dropped: the output did not take them in
///   time" (level warn, `LogLine::dropped` N, a number of its own that the
///   outputs skip). So a slow listener holds no lifter's tick; the only wait
///   is for the buffer's lock, which `Next` holds only to move one line out.
/// - Order: lines arrive in number order (see `Logger`), each with its
///   number, level, text and source location.
/// - Lifetime: destroying the listener stops the lines at once; no log call
///   touches it afterwards. Several listeners may listen at once, each with
///   a buffer of its own. `Next` may be called from one thread at a time.
class VORN_IO_EXPORT LogListener {
 public:
  static constexpr std::size_t kDefaultCapacity = 1024;

  explicit LogListener(std::size_t capacity = kDefaultCapacity);
  ~LogListener();

  LogListener(const LogListener&) = delete;
  LogListener& operator=(const LogListener&) = delete;
  LogListener(LogListener&&) = delete;
  LogListener& operator=(LogListener&&) = delete;

  /// Moves the next line into `line`, waiting up to `timeout` for one; false
  /// if none came by then. `line`'s own storage is kept for a later line, so
  /// a loop that reuses one LogLine allocates nothing once warmed up.
  bool Next(LogLine& line, std::chrono::milliseconds timeout = std::chrono::milliseconds(0));

  struct Buffer;  // internal

 private:
  Buffer* buffer_;
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
