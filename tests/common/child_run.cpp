#include "child_run.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace vorn_io_test {
namespace {

std::vector<std::string> ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& env) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "SPDLOG_", 7) != 0) {
      result.emplace_back(*entry);
    }
  }
  for (const auto& [name, value] : env) {
    result.push_back(name + "=" + value);
  }
  return result;
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

}  // namespace

ChildOutput RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& env) {
  // Everything the child needs is built before fork(): between fork() and
  // execve() only async-signal-safe calls are allowed.
  std::vector<std::string> argv_texts{program};
  argv_texts.insert(argv_texts.end(), args.begin(), args.end());
  std::vector<std::string> env_texts = ChildEnvironment(env);
  std::vector<char*> argv = PointersTo(argv_texts);
  std::vector<char*> envp = PointersTo(env_texts);

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(pipe_fds[1]);

  ChildOutput child;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(pipe_fds[0], chunk, sizeof chunk);
    if (got > 0) {
      child.out.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipe_fds[0]);
  while (waitpid(pid, &child.wait_status, 0) < 0 && errno == EINTR) {
  }
  return child;
}

bool ExitedCleanly(const ChildOutput& child) {
  return WIFEXITED(child.wait_status) && WEXITSTATUS(child.wait_status) == 0;
}

}  // namespace vorn_io_test
