#pragma once

#include <memory>
#include <mutex>

#include <spdlog/details/log_msg.h>
#include <spdlog/sinks/base_sink.h>

#include "common/bounded_output.h"
#include "vorn_io/logger.h"

namespace quorvane::detail {

/// How long one log call may be held by outputs that do not take its line.
inline constexpr std::chrono::milliseconds kStallBound{Logger::kStallBoundMs};

/// A sink that either takes a line whole within a budget or refuses it, so
/// the logger can count what was lost and say so later.
class BoundedSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  /// Offers one line. With `wait` false a line the output does not take at
  /// once is refused at once. Errors other than a full output are thrown as
  /// spdlog::spdlog_ex, as spdlog's own sinks do.
  Offer Put(const spdlog::details::log_msg& msg, StallBudget& budget, bool wait) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return PutLocked(msg, budget, wait);
  }

 protected:
  virtual Offer PutLocked(const spdlog::details::log_msg& msg, StallBudget& budget, bool wait) = 0;

 private:
  // Reached only through spdlog's own logger (GetLogger()): the same bound,
  // nothing counted.
  void sink_it_(const spdlog::details::log_msg& msg) final {
    StallBudget budget(kStallBound);
    PutLocked(msg, budget, true);
  }
  void flush_() final {}
};

/// The console sink: each line formatted by the sink's formatter and written
/// to standard output within the budget (see BoundedOutput).
std::shared_ptr<spdlog::sinks::sink> MakeConsoleSink();

/// The journal sink: one entry per line, sent as a datagram in the journal's
/// native protocol to /run/systemd/journal/socket, never waiting past the
/// budget. Fields as spdlog's journal sink gives them through
/// sd_journal_send(): MESSAGE, PRIORITY, SYSLOG_IDENTIFIER and the source
/// location.
std::shared_ptr<spdlog::sinks::sink> MakeJournalSink();

}  // namespace quorvane::detail
