#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>

namespace quorvane::detail {

/// The time one log call may spend on outputs that do not take its line: one
/// budget for the whole call, started on the first wait (for the logger's lock
/// or for room in an output), shared by every output the line goes to.
class StallBudget {
 public:
  using Clock = std::chrono::steady_clock;

  explicit StallBudget(Clock::duration bound) : bound_(bound) {}

  /// The moment the call must stop waiting; fixed on first asking.
  Clock::time_point Deadline() {
    if (!started_) {
      deadline_ = Clock::now() + bound_;
      started_ = true;
    }
    return deadline_;
  }

 private:
  Clock::duration bound_;
  Clock::time_point deadline_{};
  bool started_ = false;
};

/// Waits until `fd` takes bytes again (poll for POLLOUT) or `deadline`
/// passes; false on the latter.
bool AwaitRoom(int fd, StallBudget::Clock::time_point deadline);

/// What became of one piece of text offered to an output.
enum class Offer {
  kWritten,  ///< all of it
  kRefused,  ///< none of it: the output did not take it in time
  kCut,      ///< the first part only: the output stopped taking it midway
  kFailed,   ///< none of it, for good reason (closed, gone, not writable)
};

/// Writes to whatever a descriptor (standard output, say) refers to at the
/// moment of writing, without ever waiting past a deadline and without
/// raising SIGPIPE.
///
/// - A pipe, FIFO or terminal is written through a non-blocking open file
///   description of its own (opened through /proc/self/fd), so the
///   descriptor's shared description, and with it the shell's, keeps its
///   flags. A pipe whose reader is gone fails with EPIPE; the SIGPIPE the
///   kernel raises for it is blocked on the writing thread and consumed. A
///   terminal that stops background writers (`stty tostop`) takes the text
///   all the same: SIGTTOU is blocked around the write.
/// - A socket gets send() with MSG_DONTWAIT | MSG_NOSIGNAL.
/// - A regular file, block device or anything else gets ordinary writes.
///
/// Text of up to PIPE_BUF bytes goes into a pipe whole or not at all. Longer
/// text (and any text to a socket or terminal) may be taken in part; the rest
/// is then written as room appears, up to the deadline. Should the deadline
/// come first, the text is cut: `kCut`, and the next text written starts with
/// "\n" so that what follows begins a line of its own.
///
/// Without /proc, a pipe or terminal is written through the descriptor
/// itself: the one case without a bound.
///
/// The descriptor is looked at (fstat) on every write, so a host that points
/// it elsewhere later (a redirection, a terminal relay) is followed. Not
/// thread-safe: callers serialise.
class BoundedOutput {
 public:
  explicit BoundedOutput(int followed_fd) : followed_(followed_fd) {}
  ~BoundedOutput();

  BoundedOutput(const BoundedOutput&) = delete;
  BoundedOutput& operator=(const BoundedOutput&) = delete;
  BoundedOutput(BoundedOutput&&) = delete;
  BoundedOutput& operator=(BoundedOutput&&) = delete;

  /// Writes `size` bytes. With `wait` false, text the output does not take at
  /// once is refused at once; otherwise the budget's deadline is the limit.
  Offer Write(const char* data, std::size_t size, StallBudget& budget, bool wait);

 private:
  enum class Kind { kNone, kPrivate, kSocket, kPlain, kRetry };

  bool Follow();
  void Forget();
  ssize_t WriteOnce(const char* data, std::size_t size) const;
  Offer WriteAll(const char* data, std::size_t size, StallBudget& budget, bool wait);

  int followed_;
  Kind kind_ = Kind::kNone;
  int target_ = -1;   // the descriptor written: own_ or followed_
  int own_ = -1;      // the private non-blocking description, if any
  dev_t device_ = 0;  // identity of the file last followed
  ino_t inode_ = 0;
  bool shielded_ = false;   // a pipe, FIFO or terminal: a write may raise SIGPIPE or SIGTTOU
  bool line_open_ = false;  // a cut left an unfinished line behind
};

}  // namespace quorvane::detail
