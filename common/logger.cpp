#include "vorn_io/logger.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>
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

struct Logger::Outputs {
  struct Output {
    spdlog::sink_ptr sink;
    detail::BoundedSink* bounded = nullptr;  // the same sink, when it can refuse lines
    std::uint64_t lost = 0;                  // lines dropped since it last took one
  };

  std::string name;
  std::mutex lock;
  std::vector<Output> list;
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

  void Text(detail::BoundedOutput& output, const char* text) {
    detail::StallBudget budget(detail::kStallBound);
    output.Write(text, std::strlen(text), budget, true);
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
};

Logger::Logger(const std::string& name) : outputs_(new Outputs) {
  outputs_->name = name;
  // Configuration notices go straight to standard output, ahead of any line.
  const auto notice = [this](const char* text) { outputs_->Text(outputs_->stdout_text, text); };
  std::vector<spdlog::sink_ptr> sinks;
  try {
    const char* to_stdout = std::getenv("SPDLOG_STDOUT");
    if (to_stdout == nullptr) {
      notice("environment variable SPDLOG_STDOUT is not set, and set true\n");
      sinks.push_back(detail::MakeConsoleSink());
    } else if (IsExactly(to_stdout, "true")) {
      sinks.push_back(detail::MakeConsoleSink());
    } else if (!IsExactly(to_stdout, "false")) {
      notice("environment variable SPDLOG_STDOUT is invalid, and set true\n");
      sinks.push_back(detail::MakeConsoleSink());
    }

    const char* to_journal = std::getenv("SPDLOG_SYSTEMD");
    if (to_journal == nullptr) {
      notice("environment variable SPDLOG_SYSTEMD is not set, and set false\n");
    } else if (IsExactly(to_journal, "true")) {
      sinks.push_back(detail::MakeJournalSink());
    } else if (!IsExactly(to_journal, "false")) {
      notice("environment variable SPDLOG_SYSTEMD is invalid, and set false\n");
    }

    logger_ = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    for (const spdlog::sink_ptr& sink : sinks) {
      outputs_->list.push_back({sink, dynamic_cast<detail::BoundedSink*>(sink.get())});
    }

    spdlog::level::level_enum level = spdlog::level::info;
    const char* level_name = std::getenv("SPDLOG_LEVEL");
    if (level_name == nullptr) {
      notice("environment variable SPDLOG_LEVEL is not set, and set default level\n");
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
        notice("environment variable SPDLOG_LEVEL is invalid, and set default level\n");
      }
    }
    level_ = level;
    logger_->set_level(level);
    logger_->set_formatter(std::make_unique<spdlog::pattern_formatter>("%v"));
  } catch (const spdlog::spdlog_ex&) {
    // Setup keeps whatever it reached; without outputs every line is counted only.
  } catch (...) {
    delete outputs_;
    throw;
  }
}

// Never runs: the one instance lives until the process ends.
Logger::~Logger() { delete outputs_; }

std::shared_ptr<spdlog::logger> Logger::GetLogger() const { return logger_; }

std::uint8_t Logger::NextSequence(int level) {
  const std::lock_guard<std::mutex> lock(outputs_->lock);
  if (level_ <= level) {
    ++sequence_;
  }
  return sequence_;
}

void Logger::Write(spdlog::level::level_enum level, const spdlog::source_loc& where, char* payload, std::size_t size) {
  Outputs& outputs = *outputs_;
  detail::StallBudget budget(detail::kStallBound);
  std::unique_lock<std::mutex> lock(outputs.lock, std::try_to_lock);
  if (!lock.owns_lock() && !outputs.Acquire(lock, budget)) {
    outputs.missed.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  bool all_taken = true;
  if (outputs.missed.load(std::memory_order_relaxed) != 0) {
    const std::uint64_t missed = outputs.missed.exchange(0, std::memory_order_relaxed);
    for (Outputs::Output& output : outputs.list) {
      if (output.bounded != nullptr) {
        output.lost += missed;
      }
    }
  }

  // An output that lost lines is told how many first, if it takes a line at
  // once; the notice uses up a number of its own.
  for (Outputs::Output& output : outputs.list) {
    if (output.lost == 0) {
      continue;
    }
    fmt::memory_buffer notice;
    detail::AppendPrefix(notice, detail::LevelTag(spdlog::level::warn));
    fmt::format_to(std::back_inserter(notice), "{} lines dropped: the output did not take them in time\r\n",
                   output.lost);
    PutNumber(notice.data(), static_cast<std::uint8_t>(sequence_ + 1U) & 0x7fU);
    const spdlog::details::log_msg msg(spdlog::source_loc{__FILE__, __LINE__, static_cast<const char*>(__func__)},
                                       outputs.name, spdlog::level::warn,
                                       spdlog::string_view_t(notice.data(), notice.size()));
    try {
      if (output.bounded->Put(msg, budget, false) == detail::Offer::kWritten) {
        ++sequence_;
        output.lost = 0;
      }
    } catch (const std::exception& error) {
      outputs.ReportError(error.what(), budget);
    }
  }

  ++sequence_;
  PutNumber(payload, sequence_ & 0x7fU);
  const spdlog::details::log_msg msg(where, outputs.name, level, spdlog::string_view_t(payload, size));
  for (Outputs::Output& output : outputs.list) {
    if (!output.sink->should_log(level)) {
      continue;
    }
    try {
      if (output.bounded == nullptr) {
        output.sink->log(msg);
      } else if (output.lost > 0) {
        ++output.lost;  // still not taking lines: no second wait
        all_taken = false;
      } else {
        const detail::Offer offer = output.bounded->Put(msg, budget, true);
        if (offer == detail::Offer::kRefused || offer == detail::Offer::kCut) {
          output.lost = 1;
        }
        all_taken = all_taken && output.lost == 0 && offer != detail::Offer::kRefused;
      }
    } catch (const std::exception& error) {
      outputs.ReportError(error.what(), budget);
    } catch (...) {
      outputs.ReportError("Unknown exception in logger", budget);
    }
  }
  if (outputs.stalling.load(std::memory_order_relaxed) == all_taken) {
    outputs.stalling.store(!all_taken, std::memory_order_relaxed);
  }
}

}  // namespace quorvane
