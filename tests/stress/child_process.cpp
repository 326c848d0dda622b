#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

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

char journal_datagram[1 << 18];

void WriteFully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      _exit(1);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// The helper that plays the journal: copies each datagram to `copy_fd` as its
// length (native uint32) and its bytes, until the child has gone (`alive_fd`
// ends) and the socket is empty. Only system calls: it runs between fork and
// exec of a parent that may have threads.
[[noreturn]] void ReadJournal(int socket_fd, int alive_fd, int copy_fd, int late_ms) {
  if (late_ms > 0) {
    timespec late{late_ms / 1000, static_cast<long>(late_ms % 1000) * 1000000L};
    while (nanosleep(&late, &late) != 0 && errno == EINTR) {
    }
  }
  bool marked = false;
  bool child_gone = false;
  for (;;) {
    for (;;) {
      const ssize_t got = recv(socket_fd, journal_datagram, sizeof journal_datagram, MSG_DONTWAIT);
      if (got < 0) {
        break;
      }
      const auto size = static_cast<std::uint32_t>(got);
      WriteFully(copy_fd, reinterpret_cast<const char*>(&size), sizeof size);
      WriteFully(copy_fd, journal_datagram, size);
    }
    if (child_gone) {
      _exit(0);
    }
    if (!marked) {
      const int marker = open(kJournalDrained, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      marked = marker >= 0 && close(marker) == 0;
    }
    std::array<pollfd, 2> fds{{{socket_fd, POLLIN, 0}, {alive_fd, POLLIN, 0}}};
    if (poll(fds.data(), fds.size(), -1) > 0 && fds[1].revents != 0) {
      child_gone = true;
    }
  }
}

// Binds the journal socket and starts its reader; the child keeps the write
// end of `alive` open through exec, so its end tells the reader.
bool StartJournalReader(int copy_fd, int late_ms) {
  if (mkdir("/run/systemd/journal", 0755) != 0) {
    return false;
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, "/run/systemd/journal/socket", sizeof address.sun_path - 1);
  std::array<int, 2> alive{};
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || pipe(alive.data()) != 0) {
    return false;
  }
  const pid_t reader = fork();
  if (reader < 0) {
    return false;
  }
  if (reader == 0) {
    close(alive[1]);
    ReadJournal(fd, alive[0], copy_fd, late_ms);
  }
  close(alive[0]);
  close(fd);
  close(copy_fd);
  return true;
}

[[noreturn]] void RunInChild(const ExecPlan& plan, const ChildOptions& options, int out_fd, int err_fd,
                             int journal_fd) {
  const ChildOptions::Journal journal = options.journal;
  // The child meets SIGPIPE as a fresh process would, whatever this one does with it.
  sigset_t sigpipe_only;
  sigemptyset(&sigpipe_only);
  sigaddset(&sigpipe_only, SIGPIPE);
  if (signal(SIGPIPE, SIG_DFL) == SIG_ERR || sigprocmask(SIG_UNBLOCK, &sigpipe_only, nullptr) != 0) {
    _exit(127);
  }
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
    if ((journal == ChildOptions::Journal::kRead || journal == ChildOptions::Journal::kReadLate) &&
        !StartJournalReader(journal_fd, journal == ChildOptions::Journal::kReadLate ? options.late_ms : 0)) {
      _exit(kNoNamespaceExit);
    }
  }
  execve(plan.argv[0], plan.argv.data(), plan.envp.data());
  _exit(127);
}

struct Stream {
  int fd;
  std::string* text;
};

void Collect(std::vector<Stream> streams) {
  std::vector<pollfd> fds;
  for (const Stream& stream : streams) {
    fds.push_back({stream.fd, POLLIN, 0});
  }
  std::size_t open_count = fds.size();
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
        streams[i].text->append(buffer.data(), static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

std::vector<std::string> Datagrams(const std::string& copied) {
  std::vector<std::string> datagrams;
  std::size_t at = 0;
  std::uint32_t size = 0;
  while (at + sizeof size <= copied.size()) {
    std::memcpy(&size, copied.data() + at, sizeof size);
    at += sizeof size;
    datagrams.push_back(copied.substr(at, size));
    at += size;
  }
  return datagrams;
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options) {
  const ExecPlan plan = Plan(program, args, options);
  std::array<int, 2> out_pipe{};
  std::array<int, 2> err_pipe{};
  std::array<int, 2> journal_pipe{};
  if (pipe2(out_pipe.data(), O_CLOEXEC) != 0 || pipe2(err_pipe.data(), O_CLOEXEC) != 0 ||
      pipe2(journal_pipe.data(), O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  (void)fcntl(journal_pipe[1], F_SETPIPE_SZ, 1 << 20);
  if (options.output == ChildOptions::Output::kNoReader) {
    close(out_pipe[0]);
  }
  // Room for a whole flood: the logger drops lines that an output does not
  // take within its bound, and on a busy machine this process may not be
  // scheduled to read for longer than that.
  if (options.output == ChildOptions::Output::kRead) {
    (void)fcntl(out_pipe[1], F_SETPIPE_SZ, 1 << 20);
  }
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    RunInChild(plan, options, out_pipe[1], err_pipe[1], journal_pipe[1]);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  close(journal_pipe[1]);
  ChildResult result;
  std::string journal;
  std::vector<Stream> streams{{err_pipe[0], &result.err}, {journal_pipe[0], &journal}};
  if (options.output != ChildOptions::Output::kNoReader) {
    if (options.output == ChildOptions::Output::kReadLate) {
      std::this_thread::sleep_for(std::chrono::milliseconds(options.late_ms));
    }
    streams.push_back({out_pipe[0], &result.out});
  }
  Collect(streams);
  result.journal = Datagrams(journal);
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
