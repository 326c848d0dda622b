#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include "journal_namespace.h"

extern char** environ;

namespace vorn_io_test {
namespace {

using Clock = std::chrono::steady_clock;

bool Inherited(const std::string& entry, const ChildOptions& options) {
  for (const std::string& prefix : options.dropped_prefixes) {
    if (entry.rfind(prefix, 0) == 0) {
      return false;
    }
  }
  for (const auto& given : options.env) {
    if (entry.rfind(given.first + "=", 0) == 0) {
      return false;
    }
  }
  return true;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

std::array<int, 2> Pipe() {
  std::array<int, 2> fds{};
  if (pipe2(fds.data(), O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  return fds;
}

// A shell's part, on the terminal that is standard output: a session of its
// own with that terminal, set to stop background writers, in its foreground;
// the program in a process group of its own, not in the foreground, and so
// stopped (SIGTTOU) by a write it makes to the terminal unless it blocks that.
[[noreturn]] void RunAsBackgroundJob(char* const* argv, char* const* envp) {
  termios mode{};
  if (setsid() < 0 || ioctl(STDOUT_FILENO, TIOCSCTTY, 0) != 0 || tcgetattr(STDOUT_FILENO, &mode) != 0) {
    _exit(126);
  }
  mode.c_lflag |= TOSTOP;
  const pid_t job = tcsetattr(STDOUT_FILENO, TCSANOW, &mode) == 0 ? fork() : -1;
  if (job == 0) {
    setpgid(0, 0);
    execve(argv[0], argv, envp);
    _exit(127);
  }
  int status = 0;
  if (job < 0 || (setpgid(job, job) != 0 && errno != EACCES)) {
    _exit(126);
  }
  while (waitpid(job, &status, WUNTRACED) < 0 && errno == EINTR) {
  }
  if (WIFSTOPPED(status)) {
    kill(job, SIGKILL);
    _exit(128 + WSTOPSIG(status));
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

// Between fork and exec only system calls are made, since the parent may have other threads.
[[noreturn]] void RunInChild(char* const* argv, char* const* envp, const ChildOptions& options, int out_fd, int err_fd,
                             int journal_fd) {
  // The child meets SIGPIPE as a fresh process would, whatever this one does with it.
  sigset_t sigpipe_only;
  sigemptyset(&sigpipe_only);
  sigaddset(&sigpipe_only, SIGPIPE);
  if (signal(SIGPIPE, SIG_DFL) == SIG_ERR || sigprocmask(SIG_UNBLOCK, &sigpipe_only, nullptr) != 0) {
    _exit(127);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (const int number : options.ignored) {
    sigaction(number, &ignore, nullptr);
  }
  if (dup2(out_fd, STDOUT_FILENO) < 0 || dup2(err_fd, STDERR_FILENO) < 0) {
    _exit(127);
  }
  if (!options.stdout_to.empty()) {
    const int file = open(options.stdout_to.c_str(), O_WRONLY);
    if (file < 0 || dup2(file, STDOUT_FILENO) < 0) {
      _exit(126);
    }
  }
  if (!options.stdin_from.empty()) {
    const int file = open(options.stdin_from.c_str(), O_RDONLY);
    if (file < 0 || dup2(file, STDIN_FILENO) < 0) {
      _exit(126);
    }
  }
  if (options.closed_outputs && (close(STDOUT_FILENO) != 0 || close(STDERR_FILENO) != 0)) {
    _exit(126);
  }
  const rlimit memory{options.memory_mib << 20U, options.memory_mib << 20U};
  if (options.memory_mib > 0 && setrlimit(RLIMIT_AS, &memory) != 0) {
    _exit(126);
  }
  if (options.journal != ChildOptions::Journal::kAsIs &&
      !EnterJournalNamespace(options.journal, journal_fd, options.late_ms)) {
    _exit(kNoNamespaceExit);
  }
  if (options.background) {
    RunAsBackgroundJob(argv, envp);
  }
  execve(argv[0], argv, envp);
  _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ChildOptions& options) {
  // Everything the child needs is built before fork().
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (Inherited(*entry, options)) {
      env_text.emplace_back(*entry);
    }
  }
  for (const auto& [name, value] : options.env) {
    env_text.push_back(name + "=" + value);
  }
  const std::vector<char*> argv = PointersTo(argv_text);
  const std::vector<char*> envp = PointersTo(env_text);

  std::array<int, 2> out{};
  if (options.on_terminal) {
    terminal_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    out = {terminal_, open(ptsname(terminal_), O_RDWR | O_NOCTTY | O_CLOEXEC)};
  } else {
    out = Pipe();
  }
  const bool merged = options.merge_stderr || options.on_terminal;
  const std::array<int, 2> err = merged ? std::array<int, 2>{-1, out[1]} : Pipe();
  const bool journal_read = options.journal == ChildOptions::Journal::kRead ||
                            options.journal == ChildOptions::Journal::kReadLate ||
                            options.journal == ChildOptions::Journal::kRecreated;
  const std::array<int, 2> journal = journal_read ? Pipe() : std::array<int, 2>{-1, -1};
  if (journal_read) {
    (void)fcntl(journal[1], F_SETPIPE_SZ, 1 << 20);
  }
  if (options.output == ChildOptions::Output::kNoReader) {
    close(out[0]);
  }
  // Room for a whole flood: the logger drops lines that an output does not
  // take within its bound, and on a busy machine this process may not be
  // scheduled to read for longer than that.
  const int pipe_bytes =
      options.pipe_bytes > 0 ? options.pipe_bytes : (options.output == ChildOptions::Output::kRead ? 1 << 20 : 0);
  if (pipe_bytes > 0 && !options.on_terminal) {
    (void)fcntl(out[1], F_SETPIPE_SZ, pipe_bytes);
  }
  pid_ = fork();
  if (pid_ < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    RunInChild(argv.data(), envp.data(), options, out[1], err[1], journal[1]);
  }
  for (const int fd : {out[1], merged ? -1 : err[1], journal[1]}) {
    if (fd >= 0) {
      close(fd);
    }
  }
  if (!merged) {
    streams_.push_back({err[0], &result_.err});
  }
  if (journal_read) {
    streams_.push_back({journal[0], &journal_copy_});
  }
  if (options.output != ChildOptions::Output::kNoReader) {
    streams_.push_back({out[0], &result_.out});
  }
  read_out_from_ = Clock::now();
  if (options.output == ChildOptions::Output::kReadLate) {
    read_out_from_ += std::chrono::milliseconds(options.late_ms);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (const Stream& stream : streams_) {
    close(stream.fd);
  }
}

bool ChildProcess::ReadSome(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (streams_.empty() || left <= 0) {
    return false;
  }
  std::vector<pollfd> fds;
  for (const Stream& stream : streams_) {
    fds.push_back({stream.fd, POLLIN, 0});
  }
  const int ready = poll(fds.data(), fds.size(), static_cast<int>(left));
  if (ready < 0 && errno == EINTR) {
    return true;
  }
  if (ready <= 0) {
    return false;
  }
  std::array<char, 65536> buffer{};
  std::vector<Stream> still_open;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    const ssize_t got = fds[i].revents == 0 ? -2 : read(fds[i].fd, buffer.data(), buffer.size());
    if (got > 0) {
      streams_[i].text->append(buffer.data(), static_cast<std::size_t>(got));
    }
    // End of a pipe, or EIO once a pseudo-terminal's other side has closed.
    if (got == 0 || (got == -1 && errno != EINTR)) {
      close(fds[i].fd);
    } else {
      still_open.push_back(streams_[i]);
    }
  }
  streams_ = still_open;
  return true;
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::seconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (result_.out.find(text) == std::string::npos) {
    if (!ReadSome(deadline)) {
      return result_.out.find(text) != std::string::npos;
    }
  }
  return true;
}

void ChildProcess::Signal(int number) const { kill(pid_, number); }

void ChildProcess::Resize(unsigned short columns) const {
  winsize size{};
  size.ws_row = 24;
  size.ws_col = columns;
  ioctl(terminal_, TIOCSWINSZ, &size);
}

bool ChildProcess::Reap() {
  if (pid_ <= 0) {
    return true;
  }
  int status = 0;
  const pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done < 0 && errno != EINTR) {
    throw std::runtime_error("waitpid failed");
  }
  if (done != pid_) {
    return false;
  }
  pid_ = -1;
  result_.exited = WIFEXITED(status);
  result_.exit_code = result_.exited ? WEXITSTATUS(status) : -1;
  result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result_.code = result_.exited ? result_.exit_code : (result_.signal != 0 ? 128 + result_.signal : -1);
  return true;
}

int ChildProcess::Wait(std::chrono::seconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (Clock::now() < std::min(read_out_from_, deadline) && !Reap()) {
    usleep(10000);
  }
  while (ReadSome(deadline)) {
  }
  result_.journal = Datagrams(journal_copy_);
  while (pid_ > 0 && Clock::now() < deadline && !Reap()) {
    usleep(10000);
  }
  return result_.code;
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options) {
  ChildProcess child(program, args, options);
  child.Wait(std::chrono::minutes(4));
  return child.result();
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
