#include "tools/terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vorn_io::tool {
namespace {

constexpr const char* kWipeLine = "\r\033[K";

}  // namespace

TerminalRelay::TerminalRelay() {
  if (isatty(STDOUT_FILENO) == 0) {
    return;
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    return;
  }
  std::fflush(stdout);
  terminal_fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (terminal_fd_ < 0 || dup2(pipe_fds[1], STDOUT_FILENO) < 0) {
    if (terminal_fd_ >= 0) {
      close(terminal_fd_);
    }
    terminal_fd_ = -1;
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return;
  }
  close(pipe_fds[1]);
  read_fd_ = pipe_fds[0];
  pump_ = std::thread([this] { Pump(); });
}

TerminalRelay::~TerminalRelay() { Stop(); }

void TerminalRelay::Stop() {
  if (!Active()) {
    return;
  }
  std::fflush(stdout);
  // Standard output was the pipe's only writer: giving it back ends the pump.
  dup2(terminal_fd_, STDOUT_FILENO);
  pump_.join();
  close(read_fd_);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (status_drawn_) {
      WriteAll(kWipeLine);
      status_drawn_ = false;
    }
  }
  close(terminal_fd_);
  terminal_fd_ = -1;
  read_fd_ = -1;
}

void TerminalRelay::SetStatus(const std::string& line) {
  if (!Active()) {
    return;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  status_ = line;
  winsize size{};
  // Drawn wider than the terminal, the line would wrap and `\r` could not wipe it.
  if (ioctl(terminal_fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && status_.size() >= size.ws_col) {
    status_.resize(size.ws_col - 1U);
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
    WriteAll(kWipeLine);
    status_drawn_ = false;
  }
}

void TerminalRelay::DrawStatus() {
  if (status_.empty()) {
    return;
  }
  WriteAll(kWipeLine + status_);
  status_drawn_ = true;
}

void TerminalRelay::WriteAll(const std::string& text) const {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(terminal_fd_, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return;
    }
    done += static_cast<std::size_t>(written);
  }
}

void TerminalRelay::Pump() {
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(read_fd_, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (count <= 0) {
      if (!pending_.empty()) {
        WriteAll((status_drawn_ ? kWipeLine : "") + pending_ + "\n");
        pending_.clear();
        status_drawn_ = false;
      }
      return;
    }
    pending_.append(buffer, static_cast<std::size_t>(count));
    const std::size_t end = pending_.rfind('\n');
    if (end == std::string::npos) {
      continue;
    }
    // Complete lines go out as they came; a partial one waits for its end.
    WriteAll((status_drawn_ ? kWipeLine : "") + pending_.substr(0, end + 1));
    pending_.erase(0, end + 1);
    status_drawn_ = false;
    DrawStatus();
  }
}

}  // namespace vorn_io::tool
