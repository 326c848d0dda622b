#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vorn_io_test {

struct ChildOutput {
  int wait_status = 0;  ///< as waitpid() reports it
  std::string out;      ///< everything the child wrote to standard output
};

/// Runs `program` with `args` in a new process and collects its standard
/// output. The child's environment is this process's without any SPDLOG_*
/// variable, plus `env`; its standard error is this process's.
ChildOutput RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& env);

/// Whether the child ran to completion and returned 0.
bool ExitedCleanly(const ChildOutput& child);

}  // namespace vorn_io_test
