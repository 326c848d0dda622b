#include "common/bounded_output.h"
#include "vorn_io/bounded_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include <cerrno>
#include <cstdio>

namespace quorvane::detail {
namespace {

// A write into a pipe whose reader has gone raises SIGPIPE, and one to a
// terminal from a background process group (`stty tostop`) raises SIGTTOU,
// which stops the whole process; the host must see neither. Both are blocked
// around the write, and the kernel then lets the terminal's write through. A
// SIGPIPE the write raised is taken off again; one that was pending before is
// the host's and stays.
ssize_t WriteShielded(int fd, const char* data, std::size_t size) {
  sigset_t shielded;
  sigemptyset(&shielded);
  sigaddset(&shielded, SIGPIPE);
  sigaddset(&shielded, SIGTTOU);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &shielded, &previous);
  bool pending_before = false;
  if (sigismember(&previous, SIGPIPE) == 1) {
    sigset_t pending;
    pending_before = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  }
  const ssize_t written = write(fd, data, size);
  const int error = errno;
  if (written < 0 && error == EPIPE && !pending_before) {
    sigset_t sigpipe_only;
    sigemptyset(&sigpipe_only);
    sigaddset(&sigpipe_only, SIGPIPE);
    const timespec no_wait{0, 0};
    while (sigtimedwait(&sigpipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = error;
  return written;
}

}  // namespace

bool AwaitRoom(int fd, StallBudget::Clock::time_point deadline) {
  for (;;) {
    const auto left = deadline - StallBudget::Clock::now();
    if (left <= StallBudget::Clock::duration::zero()) {
      return false;
    }
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(nanos / 1000000000), static_cast<long>(nanos % 1000000000)};
    pollfd entry{fd, POLLOUT, 0};
    const int ready = ppoll(&entry, 1, &timeout, nullptr);
    if (ready > 0) {
      return true;  // room, or an error the next write reports
    }
    if (ready < 0 && errno != EINTR) {
      return false;
    }
  }
}

BoundedOutput::~BoundedOutput() { Forget(); }

void BoundedOutput::Forget() {
  if (own_ >= 0) {
    close(own_);
  }
  own_ = -1;
  target_ = -1;
  kind_ = Kind::kNone;
  shielded_ = false;
}

bool BoundedOutput::Follow() {
  struct stat info {};
  if (fstat(followed_, &info) != 0) {
    Forget();
    return false;
  }
  if (kind_ != Kind::kNone && info.st_dev == device_ && info.st_ino == inode_) {
    return true;
  }
  Forget();
  device_ = info.st_dev;
  inode_ = info.st_ino;
  shielded_ = S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode);
  if (S_ISSOCK(info.st_mode)) {
    kind_ = Kind::kSocket;
    target_ = followed_;
  } else if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) {
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", followed_);
    own_ = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (own_ < 0) {
      // No reader (ENXIO: writing fails at once then) or no /proc: the
      // descriptor itself, and another try at the next write.
      kind_ = Kind::kRetry;
      target_ = followed_;
      return true;
    }
    kind_ = Kind::kPrivate;
    target_ = own_;
  } else {
    kind_ = Kind::kPlain;
    target_ = followed_;
  }
  return true;
}

ssize_t BoundedOutput::WriteOnce(const char* data, std::size_t size) const {
  if (kind_ == Kind::kSocket) {
    return send(target_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  if (shielded_) {
    return WriteShielded(target_, data, size);
  }
  return write(target_, data, size);
}

Offer BoundedOutput::WriteAll(const char* data, std::size_t size, StallBudget& budget, bool wait) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = WriteOnce(data + done, size - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) {
      continue;
    }
    const bool full = written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    // Once part of the text is out, the rest is worth its wait: a cut line is
    // worse than a late one.
    if (full && (wait || done > 0) && AwaitRoom(target_, budget.Deadline())) {
      continue;
    }
    if (done > 0) {
      return Offer::kCut;
    }
    return full ? Offer::kRefused : Offer::kFailed;
  }
  return Offer::kWritten;
}

Offer BoundedOutput::Write(const char* data, std::size_t size, StallBudget& budget, bool wait) {
  if (!Follow()) {
    return Offer::kFailed;
  }
  Offer result = Offer::kWritten;
  if (line_open_) {
    result = WriteAll("\n", 1, budget, wait);
    if (result == Offer::kWritten) {
      line_open_ = false;
    }
  }
  if (result == Offer::kWritten) {
    result = WriteAll(data, size, budget, wait);
    line_open_ = result == Offer::kCut;
  }
  if (kind_ == Kind::kRetry) {
    kind_ = Kind::kNone;
  }
  return result;
}

}  // namespace quorvane::detail

namespace quorvane {

BoundedWriter::BoundedWriter(int fd) : output_(std::make_unique<detail::BoundedOutput>(fd)) {}

BoundedWriter::~BoundedWriter() = default;

BoundedWriter::Result BoundedWriter::Write(std::string_view text, std::chrono::milliseconds bound, bool wait_to_start) {
  detail::StallBudget budget(bound);
  switch (output_->Write(text.data(), text.size(), budget, wait_to_start)) {
    case detail::Offer::kWritten:
      return Result::kWritten;
    case detail::Offer::kRefused:
      return Result::kRefused;
    case detail::Offer::kCut:
      return Result::kCut;
    case detail::Offer::kFailed:
      break;
  }
  return Result::kFailed;
}

}  // namespace quorvane
