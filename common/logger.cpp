#include "vorn_io/logger.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <spdlog/pattern_formatter.h>

#include "common/log_sinks.h"

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

bool IsExactly(const char* value, const char* expected) { return std::strcmp(value, expected) == 0; }

// The three columns of a number, right-aligned.
void PutNumber(char* columns, unsigned number) {
  columns[0] = columns[1] = ' ';
  int at = 2;
  do {
    columns[at--] = static_cast<char>('0' + number % 10U);
    number /= 10U;
  } while (number != 0U && at >= 0);
}

}  // namespace

// Hidden: a nested type takes its exported class's visibility, and its
// members would reach the symbol table.
struct __attribute__((visibility("hidden"))) LogListener::Buffer {
  std::mutex mutex;
  std::condition_variable ready;
  std::vector<LogLine> ring;  // `count` lines from `head` on, in number order
  std::size_t head = 0;
  std::size_t count = 0;
  std::uint64_t lost = 0;  // under the logger's outputs lock

  std::size_t Room() {
    const std::lock_guard<std::mutex> hold(mutex);
    return ring.size() - count;
  }

  // Called with the room checked: only `Next` takes lines out meanwhile.
  void Put(unsigned number, spdlog::level::level_enum level, const spdlog::source_loc& where, const char* text,
           std::size_t size, std::uint64_t dropped) {
    {
      const std::lock_guard<std::mutex> hold(mutex);
      LogLine& slot = ring[(head + count) % ring.size()];
      slot.number = number;
      slot.level = level;
      slot.text.assign(text, size);
      slot.message_at = MessageStart(slot.text);
      slot.file.assign(where.filename != nullptr ? where.filename : "");
      slot.line = where.line;
      slot.function.assign(where.funcname != nullptr ? where.funcname : "");
      slot.dropped = dropped;
      ++count;
    }
    ready.notify_one();
  }

  // After "NNN [TAG] ".
  static std::size_t MessageStart(const std::string& text) {
    const std::size_t tag_end = text.find("] ");
    return tag_end == std::string::npos ? text.size() : tag_end + 2;
  }
};

// Hidden, like LogListener::Buffer.
struct __attribute__((visibility("hidden"))) Logger::Outputs {
  struct Output {
    spdlog::sink_ptr sink;                   // null until first turned on
    detail::BoundedSink* bounded = nullptr;  // the same sink, when it can refuse lines
    bool on = false;
    std::uint64_t lost = 0;  // lines dropped since it last took one
  };

  std::string name;
  std::mutex lock;
  Output console;
  Output journal;
  std::vector<LogListener::Buffer*> listeners;
  // The environment's settings, when a Configure() call made the logger: that call returns them.
  std::optional<LogSettings> environment;
  // Lines that did not get the lock within the bound: lost to every output.
  std::atomic<std::uint64_t> missed{0};
  // Whether an output did not take the last line offered at once. The bound
  // on the wait for the lock applies then only: a holder that is merely slow
  // (preempted on a busy machine) is waited for, like any lock.
  std::atomic<bool> stalling{false};
  // Configuration notices and write errors; under `lock` once lines flow.
  detail::BoundedOutput stdout_text{STDOUT_FILENO};
  detail::BoundedOutput stderr_text{STDERR_FILENO};
  std::chrono::steady_clock::time_point last_error{};
  std::size_t errors = 0;

  // The wait for the lock. While every output takes its lines, holders are
  // quick (or at worst within their own bound, should an output stall under
  // them): the lock is waited for as any lock. While an output is not taking
  // lines, a holder may be about to wait for it, so the wait ends at this
  // call's deadline. Polled rather than a timed lock, which thread checkers
  // cannot follow.
  bool Acquire(std::unique_lock<std::mutex>& held, detail::StallBudget& budget) const {
    if (!stalling.load(std::memory_order_relaxed)) {
      held.lock();
      return true;
    }
    const auto deadline = budget.Deadline();
    for (;;) {
      if (held.try_lock()) {
        return true;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }

  void Text(detail::BoundedOutput& output, const std::string& text) {
    detail::StallBudget budget(detail::kStallBound);
    output.Write(text.data(), text.size(), budget, true);
  }

  // As spdlog's default error handler: at most one report a second, on
  // standard error, counting them all.
  void ReportError(const char* what, detail::StallBudget& budget) {
    ++errors;
    const auto now = std::chrono::steady_clock::now();
    if (errors > 1 && now - last_error < std::chrono::seconds(1)) {
      return;
    }
    last_error = now;
    const std::time_t wall = std::time(nullptr);
    std::tm local{};
    localtime_r(&wall, &local);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    const std::string report = fmt::format("[*** LOG ERROR #{:04d} ***] [{}] [{}] {{{}}}\n", errors, date, name, what);
    stderr_text.Write(report.data(), report.size(), budget, true);
  }

  // Turns an output on or off; one turned on for the first time is created
  // here. Under `lock`, or before any line.
  void Switch(Output& output, bool on, spdlog::sink_ptr (*make)()) {
    if (on && !output.sink) {
      output.sink = make();
      output.sink->set_formatter(std::make_unique<spdlog::pattern_formatter>("%v"));
      output.bounded = dynamic_cast<detail::BoundedSink*>(output.sink.get());
    }
    output.on = on;
  }

  // spdlog's logger over the outputs that are on, as GetLogger() hands it out.
  std::shared_ptr<spdlog::logger> MakeLogger(int level) const {
    std::vector<spdlog::sink_ptr> sinks;
    for (const Output* output : {&console, &journal}) {
      if (output->on) {
        sinks.push_back(output->sink);
      }
    }
    auto made = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    made->set_level(static_cast<spdlog::level::level_enum>(level));
    return made;
  }

  // "N lines dropped: ..." as the payload of a line numbered `number`.
  static fmt::memory_buffer DroppedNotice(std::uint64_t lost, unsigned number) {
    fmt::memory_buffer notice;
    detail::AppendPrefix(notice, detail::LevelTag(spdlog::level::warn));
    fmt::format_to(std::back_inserter(notice), "{} lines dropped: the output did not take them in time\r\n", lost);
    PutNumber(notice.data(), number);
    return notice;
  }
};

namespace {

// Whether the logger has come into being, and what a Configure() call made
// before that gives, so that its construction does not read those variables.
std::mutex g_birth;
bool g_born = false;
std::optional<LogSettings> g_first_settings;

// What the environment says.
struct EnvironmentReading {
  bool console = true;
  bool journal = false;
  spdlog::level::level_enum level = spdlog::level::info;
};

using Notice = std::function<void(const std::string&)>;

// "true" or "false", else `fallback`. A variable that is not set is said so
// only when the host gave no settings (`plain`); an invalid one unless the
// host gave this setting (`given`).
bool ReadSwitch(const char* name, bool fallback, bool plain, bool given, const Notice& notice) {
  const char* value = std::getenv(name);
  if (value != nullptr && (IsExactly(value, "true") || IsExactly(value, "false"))) {
    return IsExactly(value, "true");
  }
  if (value == nullptr ? plain : !given) {
    notice(fmt::format("environment variable {} is {}, and set {}\n", name, value == nullptr ? "not set" : "invalid",
                       fallback));
  }
  return fallback;
}

EnvironmentReading ReadEnvironment(const LogSettings& given, bool plain, const Notice& notice) {
  EnvironmentReading reading;
  reading.console = ReadSwitch("SPDLOG_STDOUT", true, plain, given.console.has_value(), notice);
  reading.journal = ReadSwitch("SPDLOG_SYSTEMD", false, plain, given.journal.has_value(), notice);
  const char* level_name = std::getenv("SPDLOG_LEVEL");
  const auto* found = std::find_if(std::begin(kLevelNames), std::end(kLevelNames), [&](const LevelName& entry) {
    return level_name != nullptr && IsExactly(level_name, entry.name);
  });
  if (found != std::end(kLevelNames)) {
    reading.level = found->level;
  } else if (level_name == nullptr ? plain : !given.level.has_value()) {
    notice(fmt::format("environment variable SPDLOG_LEVEL is {}, and set default level\n",
                       level_name == nullptr ? "not set" : "invalid"));
  }
  return reading;
}

}  // namespace

Logger::Logger(const std::string& name) : outputs_(new Outputs) {
  outputs_->name = name;
  std::optional<LogSettings> first;
  {
    const std::lock_guard<std::mutex> hold(g_birth);
    g_born = true;
    first.swap(g_first_settings);
  }
  // Configuration notices go straight to standard output, ahead of any line.
  const auto notice = [this](const std::string& text) { outputs_->Text(outputs_->stdout_text, text); };
  try {
    const EnvironmentReading reading = ReadEnvironment(first.value_or(LogSettings{}), !first, notice);
    const LogSettings wanted = first.value_or(LogSettings{});
    if (first) {
      // What the environment gives, for the Configure() call to return.
      outputs_->environment = LogSettings{reading.console, reading.journal, reading.level};
    }
    level_ = wanted.level.value_or(reading.level);
    outputs_->Switch(outputs_->console, wanted.console.value_or(reading.console), detail::MakeConsoleSink);
    outputs_->Switch(outputs_->journal, wanted.journal.value_or(reading.journal), detail::MakeJournalSink);
    logger_ = outputs_->MakeLogger(level_);
  } catch (const spdlog::spdlog_ex&) {
    // Setup keeps whatever it reached; without outputs every line is counted only.
  } catch (...) {
    delete outputs_;
    throw;
  }
}

// Never runs: the one instance lives until the process ends.
Logger::~Logger() { delete outputs_; }

// Replaced whole by Configure() while other threads may take a copy: the
// atomic access of shared_ptr, the member's type staying as hosts know it.
std::shared_ptr<spdlog::logger> Logger::GetLogger() const { return std::atomic_load(&logger_); }

std::uint8_t Logger::NextSequence(int level) {
  const std::lock_guard<std::mutex> lock(outputs_->lock);
  if (ShouldLog(level)) {
    ++sequence_;
  }
  return sequence_;
}

LogSettings Logger::Configure(const LogSettings& changes) {
  {
    const std::lock_guard<std::mutex> hold(g_birth);
    if (!g_born) {
      g_first_settings = changes;
    }
  }
  Logger& logger = Instance();
  Outputs& outputs = *logger.outputs_;
  const std::lock_guard<std::mutex> lock(outputs.lock);
  LogSettings before{outputs.console.on, outputs.journal.on,
                     static_cast<spdlog::level::level_enum>(__atomic_load_n(&logger.level_, __ATOMIC_RELAXED))};
  if (outputs.environment) {
    before = *outputs.environment;  // the settings were this call's, taken at construction
    outputs.environment.reset();
  }
  detail::StallBudget budget(detail::kStallBound);
  try {
    if (changes.console) {
      outputs.Switch(outputs.console, *changes.console, detail::MakeConsoleSink);
    }
    if (changes.journal) {
      outputs.Switch(outputs.journal, *changes.journal, detail::MakeJournalSink);
    }
  } catch (const std::exception& error) {
    outputs.ReportError(error.what(), budget);
  }
  if (changes.level) {
    __atomic_store_n(&logger.level_, static_cast<int>(*changes.level), __ATOMIC_RELAXED);
  }
  std::atomic_store(&logger.logger_, outputs.MakeLogger(logger.level_));
  return before;
}

void Logger::Write(spdlog::level::level_enum level, const spdlog::source_loc& where, char* payload, std::size_t size) {
  Outputs& outputs = *outputs_;
  detail::StallBudget budget(detail::kStallBound);
  std::unique_lock<std::mutex> lock(outputs.lock, std::try_to_lock);
  if (!lock.owns_lock() && !outputs.Acquire(lock, budget)) {
    outputs.missed.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // The level in force when the line would take its number decides.
  if (!ShouldLog(level)) {
    return;
  }
  bool all_taken = true;
  if (outputs.missed.load(std::memory_order_relaxed) != 0) {
    const std::uint64_t missed = outputs.missed.exchange(0, std::memory_order_relaxed);
    for (Outputs::Output* output : {&outputs.console, &outputs.journal}) {
      if (output->on && output->bounded != nullptr) {
        output->lost += missed;
      }
    }
    for (LogListener::Buffer* listener : outputs.listeners) {
      listener->lost += missed;
    }
  }

  // An output that lost lines is told how many first, if it takes a line at
  // once; the notice uses up a number of its own.
  for (Outputs::Output* output : {&outputs.console, &outputs.journal}) {
    if (!output->on || output->lost == 0) {
      continue;
    }
    fmt::memory_buffer notice = Outputs::DroppedNotice(output->lost, (sequence_ + 1U) & 0x7fU);
    const spdlog::details::log_msg msg(spdlog::source_loc{__FILE__, __LINE__, static_cast<const char*>(__func__)},
                                       outputs.name, spdlog::level::warn,
                                       spdlog::string_view_t(notice.data(), notice.size()));
    try {
      if (output->bounded->Put(msg, budget, false) == detail::Offer::kWritten) {
        ++sequence_;
        output->lost = 0;
      }
    } catch (const std::exception& error) {
      outputs.ReportError(error.what(), budget);
    }
  }
  // A listener is told once it has room for the notice and the line.
  for (LogListener::Buffer* each : outputs.listeners) {
    LogListener::Buffer& listener = *each;
    if (listener.lost > 0 && listener.Room() >= 2) {
      ++sequence_;
      fmt::memory_buffer notice = Outputs::DroppedNotice(listener.lost, sequence_ & 0x7fU);
      listener.Put(sequence_ & 0x7fU, spdlog::level::warn, {__FILE__, __LINE__, static_cast<const char*>(__func__)},
                   notice.data(), notice.size(), listener.lost);
      listener.lost = 0;
    }
  }

  ++sequence_;
  PutNumber(payload, sequence_ & 0x7fU);
  const spdlog::details::log_msg msg(where, outputs.name, level, spdlog::string_view_t(payload, size));
  for (Outputs::Output* output : {&outputs.console, &outputs.journal}) {
    if (!output->on || !output->sink->should_log(level)) {
      continue;
    }
    try {
      if (output->bounded == nullptr) {
        output->sink->log(msg);
      } else if (output->lost > 0) {
        ++output->lost;  // still not taking lines: no second wait
        all_taken = false;
      } else {
        const detail::Offer offer = output->bounded->Put(msg, budget, true);
        if (offer == detail::Offer::kRefused || offer == detail::Offer::kCut) {
          output->lost = 1;
        }
        all_taken = all_taken && output->lost == 0 && offer != detail::Offer::kRefused;
      }
    } catch (const std::exception& error) {
      outputs.ReportError(error.what(), budget);
    } catch (...) {
      outputs.ReportError("Unknown exception in logger", budget);
    }
  }
  for (LogListener::Buffer* listener : outputs.listeners) {
    if (listener->lost == 0 && listener->Room() > 0) {
      listener->Put(sequence_ & 0x7fU, level, where, payload, size, 0);
    } else {
      ++listener->lost;
    }
  }
  if (outputs.stalling.load(std::memory_order_relaxed) == all_taken) {
    outputs.stalling.store(!all_taken, std::memory_order_relaxed);
  }
}

LogListener::LogListener(std::size_t capacity) : buffer_(new Buffer) {
  buffer_->ring.resize(std::max<std::size_t>(capacity, 2));
  Logger::Outputs& outputs = *Logger::Instance().outputs_;
  const std::lock_guard<std::mutex> lock(outputs.lock);
  outputs.listeners.push_back(buffer_);
}

LogListener::~LogListener() {
  Logger::Outputs& outputs = *Logger::Instance().outputs_;
  {
    const std::lock_guard<std::mutex> lock(outputs.lock);
    outputs.listeners.erase(std::find(outputs.listeners.begin(), outputs.listeners.end(), buffer_));
  }
  delete buffer_;
}

bool LogListener::Next(LogLine& line, std::chrono::milliseconds timeout) {
  Buffer& buffer = *buffer_;
  std::unique_lock<std::mutex> hold(buffer.mutex);
  if (!buffer.ready.wait_for(hold, timeout, [&buffer] { return buffer.count > 0; })) {
    return false;
  }
  std::swap(line, buffer.ring[buffer.head]);
  buffer.head = (buffer.head + 1) % buffer.ring.size();
  --buffer.count;
  return true;
}

}  // namespace quorvane
