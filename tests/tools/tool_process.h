#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace vorn_io_test {

/// `vorn-io` running in a child process, its standard output and standard
/// error merged into one pipe (or, with `on_terminal`, a pseudo-terminal).
class ToolProcess {
 public:
  using Env = std::vector<std::pair<std::string, std::string>>;

  /// Starts the tool with `args`. The environment is this process's without
  /// any SPDLOG_* or VORN_MOTOR_SIM_* variable, plus `env`. The signals in
  /// `ignored` reach the tool ignored, as `nohup` or a script's `cmd &` leave them.
  /// With `stdout_to` (a file such as /dev/null or /dev/full), standard output
  /// goes there and only standard error is read.
  ToolProcess(const std::vector<std::string>& args, const Env& env, bool on_terminal = false,
              const std::vector<int>& ignored = {}, const std::string& stdout_to = {});
  /// Kills the child if it still runs.
  ~ToolProcess();

  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;
  ToolProcess(ToolProcess&&) = delete;
  ToolProcess& operator=(ToolProcess&&) = delete;

  /// Reads until the output contains `text`; false if the deadline passed or the output ended first.
  bool WaitForOutput(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(60));

  void Signal(int number) const;

  /// Gives the pseudo-terminal this many columns, as a resized window would.
  void Resize(unsigned short columns) const;

  /// Reads to the end and reaps the child: its exit code, 128 + the signal
  /// that killed it, or -1 if it did not end in time (it is then killed).
  int Wait(std::chrono::seconds timeout = std::chrono::seconds(120));

  const std::string& output() const { return output_; }

 private:
  bool ReadSome(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int fd_ = -1;
  bool ended_ = false;
  std::string output_;
};

/// Runs the tool to its end: the exit code and everything it printed.
std::pair<int, std::string> RunTool(const std::vector<std::string>& args, const ToolProcess::Env& env = {},
                                    const std::string& stdout_to = {});

}  // namespace vorn_io_test
