#pragma once

#include <chrono>
#include <memory>
#include <string_view>

#include "vorn_io/export.h"

namespace quorvane {

namespace detail {
class BoundedOutput;
}

/// Writes text to a descriptor the way the logger writes its console lines:
/// never held past a bound by an output that does not take the text (a pipe
/// nobody reads, a stopped terminal), never raising SIGPIPE, never stopped by
/// SIGTTOU on a terminal that stops background writers. For a host that
/// writes lines of its own beside the logger's (a status line, a result) and
/// must not be held by them either.
///
/// What the descriptor refers to is looked at on every write, so a later
/// redirection is followed. A pipe, FIFO or terminal is written through a
/// non-blocking description of the writer's own, so the descriptor's shared
/// one (and the shell's) keeps its flags. Text of up to PIPE_BUF bytes goes
/// into a pipe whole or not at all; longer text that runs out of time midway
/// is cut, and the next text written starts with "\n". Not thread-safe: one
/// writer per thread, or callers serialise.
class VORN_IO_EXPORT BoundedWriter {
 public:
  enum class Result {
    kWritten,  ///< all of it
    kRefused,  ///< none of it: the output did not take it in time
    kCut,      ///< the first part only: the output stopped taking it midway
    kFailed,   ///< none of it, for good reason (closed, gone, disk full): errno says why
  };

  explicit BoundedWriter(int fd);
  ~BoundedWriter();

  BoundedWriter(const BoundedWriter&) = delete;
  BoundedWriter& operator=(const BoundedWriter&) = delete;
  BoundedWriter(BoundedWriter&&) = delete;
  BoundedWriter& operator=(BoundedWriter&&) = delete;

  /// Writes `text`, waiting at most `bound` for the output to take it. With
  /// `wait_to_start` false, text the output takes none of at once is refused
  /// at once (for lines an output that is already behind should lose rather
  /// than wait for); text it has begun to take is finished within the bound.
  Result Write(std::string_view text, std::chrono::milliseconds bound, bool wait_to_start = true);

 private:
  std::unique_ptr<detail::BoundedOutput> output_;
};

}  // namespace quorvane
