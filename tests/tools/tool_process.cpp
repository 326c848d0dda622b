#include "tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace vorn_io_test {
namespace {

using Clock = std::chrono::steady_clock;

bool Inherited(const std::string& entry) {
  return entry.rfind("SPDLOG_", 0) != 0 && entry.rfind("VORN_MOTOR_SIM_", 0) != 0;
}

}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& args, const Env& env, bool on_terminal,
                         const std::vector<int>& ignored, const std::string& stdout_to) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bool overridden = false;
    for (const auto& given : env) {
      overridden = overridden || std::string(*entry).rfind(given.first + "=", 0) == 0;
    }
    if (Inherited(*entry) && !overridden) {
      environment.emplace_back(*entry);
    }
  }
  for (const auto& [name, value] : env) {
    environment.push_back(name + "=" + value);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(VORN_IO_TOOL));
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : environment) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);

  int child_end = -1;
  if (on_terminal) {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    child_end = open(ptsname(fd_), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } else {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      throw std::runtime_error("no pipe");
    }
    fd_ = fds[0];
    child_end = fds[1];
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(child_end, STDOUT_FILENO);
    dup2(child_end, STDERR_FILENO);
    if (!stdout_to.empty()) {
      const int file = open(stdout_to.c_str(), O_WRONLY);
      if (file < 0 || dup2(file, STDOUT_FILENO) < 0) {
        _exit(126);
      }
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (const int number : ignored) {
      sigaction(number, &ignore, nullptr);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(child_end);
}

ToolProcess::~ToolProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (fd_ >= 0) {
    close(fd_);
  }
}

bool ToolProcess::ReadSome(Clock::time_point deadline) {
  if (ended_) {
    return false;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) {
    return false;
  }
  pollfd watched{fd_, POLLIN, 0};
  const int ready = poll(&watched, 1, static_cast<int>(left));
  if (ready < 0 && errno == EINTR) {
    return true;
  }
  if (ready <= 0) {
    return false;
  }
  char buffer[4096];
  const ssize_t count = read(fd_, buffer, sizeof buffer);
  if (count <= 0) {
    // End of a pipe, or EIO once a pseudo-terminal's other side has closed.
    ended_ = true;
    return false;
  }
  output_.append(buffer, static_cast<std::size_t>(count));
  return true;
}

bool ToolProcess::WaitForOutput(const std::string& text, std::chrono::seconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (output_.find(text) == std::string::npos) {
    if (!ReadSome(deadline)) {
      return output_.find(text) != std::string::npos;
    }
  }
  return true;
}

void ToolProcess::Signal(int number) const { kill(pid_, number); }

void ToolProcess::Resize(unsigned short columns) const {
  winsize size{};
  size.ws_row = 24;
  size.ws_col = columns;
  ioctl(fd_, TIOCSWINSZ, &size);
}

int ToolProcess::Wait(std::chrono::seconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (ReadSome(deadline)) {
  }
  while (Clock::now() < deadline) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
      }
      return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    }
    usleep(10000);
  }
  return -1;
}

std::pair<int, std::string> RunTool(const std::vector<std::string>& args, const ToolProcess::Env& env,
                                    const std::string& stdout_to) {
  ToolProcess tool(args, env, false, {}, stdout_to);
  const int code = tool.Wait();
  return {code, tool.output()};
}

}  // namespace vorn_io_test
