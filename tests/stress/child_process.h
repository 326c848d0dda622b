#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vorn_io_test {

/// How a child program ended and what it wrote.
struct ChildResult {
  bool exited = false;  ///< ended through exit(), not a signal
  int exit_code = -1;   ///< valid when `exited`
  int signal = 0;       ///< the signal that ended it, else 0
  std::string out;      ///< its standard output
  std::string err;      ///< its standard error
};

struct ChildOptions {
  /// Set in the child's environment, on top of the parent's.
  std::vector<std::pair<std::string, std::string>> env;
  /// Runs the child in a mount namespace of its own where /run/systemd is an
  /// empty tmpfs: no journal socket at all (libsystemd then drops entries
  /// silently), or a socket file that no journal listens on (sending fails).
  enum class Journal { kAsIs, kAbsent, kNotListening };
  Journal journal = Journal::kAsIs;
};

/// Exit code of a child that could not set up its mount namespace (no
/// privilege for unshare or mount); the caller skips its test then.
inline constexpr int kNoNamespaceExit = 77;

/// Runs `program` with `args`, collecting both output streams until it ends.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options = {});

/// `text` split at "\n"; a final line without "\n" is kept too.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace vorn_io_test
