#include "tools/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fmt/format.h>

#include "vorn_io/logger.h"

namespace vorn_io::tool {
namespace {

constexpr const char* kWipeLine = "\r\033[K";
constexpr std::chrono::milliseconds kStallBound{quorvane::Logger::kStallBoundMs};

}  // namespace

TerminalRelay::TerminalRelay(bool wanted) {
  const char* term = std::getenv("TERM");  // NOLINT(concurrency-mt-unsafe)
  if (!wanted || isatty(STDOUT_FILENO) == 0 || (term != nullptr && std::string(term) == "dumb")) {
    return;
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    return;
  }
  int wake_fds[2];
  if (pipe2(wake_fds, O_CLOEXEC) != 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return;
  }
  std::fflush(stdout);
  terminal_fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (terminal_fd_ < 0 || dup2(pipe_fds[1], STDOUT_FILENO) < 0) {
    if (terminal_fd_ >= 0) {
      close(terminal_fd_);
    }
    terminal_fd_ = -1;
    for (const int fd : {pipe_fds[0], pipe_fds[1], wake_fds[0], wake_fds[1]}) {
      close(fd);
    }
    return;
  }
  close(pipe_fds[1]);
  read_fd_ = pipe_fds[0];
  // The read end is the relay's own: it drains without waiting at the end.
  fcntl(read_fd_, F_SETFL, fcntl(read_fd_, F_GETFL) | O_NONBLOCK);
  wake_read_fd_ = wake_fds[0];
  wake_write_fd_ = wake_fds[1];
  terminal_ = std::make_unique<quorvane::detail::BoundedOutput>(terminal_fd_);
  pump_ = std::thread([this] { Pump(); });
}

TerminalRelay::~TerminalRelay() { Stop(); }

void TerminalRelay::Stop() {
  if (!Active()) {
    return;
  }
  std::fflush(stdout);
  // Standard output goes back to the terminal. The logger may still hold a
  // description of the pipe of its own (until its next line), so the pipe
  // need not end: the pump is told to drain what is there and stop.
  dup2(terminal_fd_, STDOUT_FILENO);
  const char stop = 0;
  while (write(wake_write_fd_, &stop, 1) < 0 && errno == EINTR) {
  }
  pump_.join();
  for (const int fd : {read_fd_, wake_read_fd_, wake_write_fd_}) {
    close(fd);
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (status_drawn_) {
      Send(kWipeLine, dropped_lines_ == 0);
      status_drawn_ = false;
    }
  }
  terminal_.reset();
  close(terminal_fd_);
  terminal_fd_ = -1;
  read_fd_ = -1;
  wake_read_fd_ = -1;
  wake_write_fd_ = -1;
}

int TerminalRelay::Width() const {
  constexpr int kFallbackWidth = 80;
  winsize size{};
  if (terminal_fd_ < 0 || ioctl(terminal_fd_, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) {
    return kFallbackWidth;
  }
  return size.ws_col;
}

void TerminalRelay::SetStatus(const std::string& line) {
  if (!Active()) {
    return;
  }
  const auto width = static_cast<std::size_t>(Width());
  const std::lock_guard<std::mutex> lock(mutex_);
  status_ = line;
  // Drawn wider than the terminal, the line would wrap and `\r` could not wipe it.
  if (status_.size() >= width) {
    status_.resize(width - 1U);
  }
  DrawStatus();
}

void TerminalRelay::ClearStatus() {
  if (!Active()) {
    return;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  status_.clear();
  if (status_drawn_) {
    Send(kWipeLine, dropped_lines_ == 0);
    status_drawn_ = false;
  }
}

void TerminalRelay::DrawStatus() {
  if (status_.empty()) {
    return;
  }
  // A status line the terminal did not take is simply not on the screen.
  status_drawn_ = Send(kWipeLine + status_, dropped_lines_ == 0);
}

bool TerminalRelay::Send(const std::string& text, bool wait) {
  quorvane::detail::StallBudget budget(kStallBound);
  return terminal_->Write(text.data(), text.size(), budget, wait) == quorvane::detail::Offer::kWritten;
}

// Complete lines go out as they came, with the status line wiped first and
// drawn again below them.
void TerminalRelay::Relay(const std::string& lines) {
  std::string text = status_drawn_ ? kWipeLine : "";
  if (dropped_lines_ > 0) {
    text += fmt::format("vorn-io: {} lines dropped: the terminal did not take them in time\n", dropped_lines_);
  }
  text += lines;
  // After a loss nothing waits until the terminal takes text again.
  if (Send(text, dropped_lines_ == 0)) {
    dropped_lines_ = 0;
    status_drawn_ = false;
    DrawStatus();
  } else {
    dropped_lines_ += std::count(lines.begin(), lines.end(), '\n');
  }
}

void TerminalRelay::Pump() {
  std::array<char, 4096> buffer{};
  bool stopping = false;
  bool ended = false;
  while (!stopping && !ended) {
    std::array<pollfd, 2> fds{{{read_fd_, POLLIN, 0}, {wake_read_fd_, POLLIN, 0}}};
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
      return;
    }
    stopping = fds[1].revents != 0;
    const std::lock_guard<std::mutex> lock(mutex_);
    for (;;) {
      const ssize_t count = read(read_fd_, buffer.data(), buffer.size());
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count <= 0) {
        ended = count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
      }
      pending_.append(buffer.data(), static_cast<std::size_t>(count));
    }
    if (stopping || ended) {
      if (!pending_.empty() && pending_.back() != '\n') {
        pending_ += '\n';  // the last line, unfinished: ended here
      }
    }
    // A partial line waits for its end.
    const std::size_t end = pending_.rfind('\n');
    if (end != std::string::npos) {
      Relay(pending_.substr(0, end + 1));
      pending_.erase(0, end + 1);
    }
  }
}

}  // namespace vorn_io::tool
