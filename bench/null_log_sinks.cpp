// The bench's hook into the library's logger: the logger's own sources are
// compiled into the logging benchmarks with this file in place of the real
// sinks, so every line goes through the library's whole path (the lock, the
// number, the prefix) and ends in spdlog's null_sink_mt, the same sink the
// baseline writes to.
#include <spdlog/sinks/null_sink.h>

#include "common/log_sinks.h"

namespace quorvane::detail {

std::shared_ptr<spdlog::sinks::sink> MakeConsoleSink() { return std::make_shared<spdlog::sinks::null_sink_mt>(); }

std::shared_ptr<spdlog::sinks::sink> MakeJournalSink() { return std::make_shared<spdlog::sinks::null_sink_mt>(); }

}  // namespace quorvane::detail
