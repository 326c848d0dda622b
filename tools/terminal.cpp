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

}  // namespace

bool WriteBounded(quorvane::detail::BoundedOutput& output, const std::string& text, bool wait) {
  quorvane::detail::StallBudget budget{std::chrono::milliseconds(quorvane::Logger::kStallBoundMs)};
  return output.Write(text.data(), text.size(), budget, wait) == quorvane::detail::Offer::kWritten;
}

TerminalRelay::TerminalRelay(bool wanted) {
  const char* term = std::getenv("TERM");  // NOLINT(concurrency-mt-unsafe)
  if (!wanted || isatty(STDOUT_FILENO) == 0 || (term != nullptr && std::string(term) == "dumb")) {
    return;
  }
  if (pipe2(pipe_, O_CLOEXEC) == 0 && pipe2(wake_, O_CLOEXEC) == 0) {
    std::fflush(stdout);
    terminal_fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  }
  if (terminal_fd_ < 0 || dup2(pipe_[1], STDOUT_FILENO) < 0) {
    for (const int fd : {terminal_fd_, pipe_[0], pipe_[1], wake_[0], wake_[1]}) {
      if (fd >= 0) {
        close(fd);
      }
    }
    terminal_fd_ = -1;
    return;
  }
  close(pipe_[1]);
  // The read end is the relay's own: it drains without waiting at the end.
  fcntl(pipe_[0], F_SETFL, fcntl(pipe_[0], F_GETFL) | O_NONBLOCK);
  terminal_ = std::make_unique<quorvane::detail::BoundedOutput>(terminal_fd_);
  pump_ = std::thread([this] { Pump(); });
}

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
  while (write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
  }
  pump_.join();
  ClearStatus();
  terminal_.reset();
  for (const int fd : {pipe_[0], wake_[0], wake_[1], terminal_fd_}) {
    close(fd);
  }
  terminal_fd_ = -1;
}

int TerminalRelay::Width() const {
  winsize size{};
  if (terminal_fd_ < 0 || ioctl(terminal_fd_, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) {
    return 80;
  }
  return size.ws_col;
}

void TerminalRelay::SetStatus(const std::string& line) {
  if (!Active()) {
    return;
  }
  const auto width = static_cast<std::size_t>(Width());
  const std::lock_guard<std::mutex> lock(mutex_);
  // Drawn wider than the terminal, the line would wrap and `\r` could not wipe it.
  status_ = line.substr(0, width - 1U);
  DrawStatus();
}

void TerminalRelay::ClearStatus() {
  if (!Active()) {
    return;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  status_.clear();
  if (status_drawn_) {
    Send(kWipeLine);
    status_drawn_ = false;
  }
}

void TerminalRelay::DrawStatus() {
  // A status line the terminal did not take is simply not on the screen.
  if (!status_.empty()) {
    status_drawn_ = Send(kWipeLine + status_);
  }
}

// Complete lines go out as they came, with the status line wiped first and
// drawn again below them.
void TerminalRelay::Relay(const std::string& lines) {
  std::string text = status_drawn_ ? kWipeLine : "";
  if (dropped_lines_ > 0) {
    text += fmt::format("vorn-io: {} lines dropped: the terminal did not take them in time\n", dropped_lines_);
  }
  if (Send(text + lines)) {
    dropped_lines_ = 0;
    status_drawn_ = false;
    DrawStatus();
  } else {
    dropped_lines_ += std::count(lines.begin(), lines.end(), '\n');
  }
}

void TerminalRelay::Pump() {
  std::array<char, 4096> buffer{};
  std::string pending;
  for (bool last = false; !last;) {
    std::array<pollfd, 2> fds{{{pipe_[0], POLLIN, 0}, {wake_[0], POLLIN, 0}}};
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
      return;
    }
    last = fds[1].revents != 0;
    const std::lock_guard<std::mutex> lock(mutex_);
    ssize_t count = 0;
    while ((count = read(pipe_[0], buffer.data(), buffer.size())) > 0 || (count < 0 && errno == EINTR)) {
      pending.append(buffer.data(), static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    }
    // The pipe's end, or a failed read, ends the relay as the stop does.
    last = last || count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    if (last && !pending.empty() && pending.back() != '\n') {
      pending += '\n';  // the last line, unfinished: ended here
    }
    // A partial line waits for its end.
    const std::size_t end = pending.rfind('\n');
    if (end != std::string::npos) {
      Relay(pending.substr(0, end + 1));
      pending.erase(0, end + 1);
    }
  }
}

}  // namespace vorn_io::tool
