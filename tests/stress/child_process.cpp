#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace vorn_io_test {
namespace {

// Everything the child needs is built before fork(): between fork() and exec
// only system calls are made, since the parent may have other threads.
struct ExecPlan {
  std::vector<std::string> argv_text;
  std::vector<std::string> env_text;
  std::vector<char*> argv;
  std::vector<char*> envp;
};

ExecPlan Plan(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options) {
  ExecPlan plan;
  plan.argv_text.push_back(program);
  plan.argv_text.insert(plan.argv_text.end(), args.begin(), args.end());
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    bool overridden = false;
    for (const auto& [name, value] : options.env) {
      overridden = overridden || text.compare(0, name.size() + 1, name + "=") == 0;
    }
    if (!overridden) {
      plan.env_text.push_back(text);
    }
  }
  for (const auto& [name, value] : options.env) {
    plan.env_text.push_back(name + "=" + value);
  }
  for (std::string& text : plan.argv_text) {
    plan.argv.push_back(text.data());
  }
  plan.argv.push_back(nullptr);
  for (std::string& text : plan.env_text) {
    plan.envp.push_back(text.data());
  }
  plan.envp.push_back(nullptr);
  return plan;
}

// Leaves a socket file behind that nothing is bound to any more.
bool PlantDeadSocket(const char* path) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  if (fd < 0) {
    return false;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return bound;
}

[[noreturn]] void RunInChild(const ExecPlan& plan, ChildOptions::Journal journal, int out_fd, int err_fd) {
  if (dup2(out_fd, STDOUT_FILENO) < 0 || dup2(err_fd, STDERR_FILENO) < 0) {
    _exit(127);
  }
  if (journal != ChildOptions::Journal::kAsIs) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      _exit(kNoNamespaceExit);
    }
    // Where /run/systemd does not exist, a tmpfs over /run makes room for it
    // without touching the real file system.
    struct stat info {};
    const bool has_systemd_dir = stat("/run/systemd", &info) == 0;
    if (mount("tmpfs", has_systemd_dir ? "/run/systemd" : "/run", "tmpfs", 0, "size=1m") != 0 ||
        (!has_systemd_dir && mkdir("/run/systemd", 0755) != 0)) {
      _exit(kNoNamespaceExit);
    }
    if (journal == ChildOptions::Journal::kNotListening &&
        (mkdir("/run/systemd/journal", 0755) != 0 || !PlantDeadSocket("/run/systemd/journal/socket"))) {
      _exit(kNoNamespaceExit);
    }
  }
  execve(plan.argv[0], plan.argv.data(), plan.envp.data());
  _exit(127);
}

void Collect(int out_fd, int err_fd, std::string& out, std::string& err) {
  std::array<pollfd, 2> fds{{{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}}};
  std::array<std::string*, 2> sinks{&out, &err};
  int open_count = 2;
  std::array<char, 65536> buffer{};
  while (open_count > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw std::runtime_error("poll failed");
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) {
        continue;
      }
      const ssize_t got = read(fds[i].fd, buffer.data(), buffer.size());
      if (got > 0) {
        sinks[i]->append(buffer.data(), static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options) {
  const ExecPlan plan = Plan(program, args, options);
  std::array<int, 2> out_pipe{};
  std::array<int, 2> err_pipe{};
  if (pipe2(out_pipe.data(), O_CLOEXEC) != 0 || pipe2(err_pipe.data(), O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  // Room for a whole flood: the logger drops lines that an output does not
  // take within its bound, and on a busy machine this process may not be
  // scheduled to read for longer than that.
  (void)fcntl(out_pipe[1], F_SETPIPE_SZ, 1 << 20);
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    RunInChild(plan, options.journal, out_pipe[1], err_pipe[1]);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  ChildResult result;
  Collect(out_pipe[0], err_pipe[0], result.out, result.err);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error("waitpid failed");
    }
  }
  result.exited = WIFEXITED(status);
  result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) {
      lines.push_back(text.substr(begin));
      break;
    }
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

}  // namespace vorn_io_test
