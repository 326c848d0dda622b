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
  /// The journal entries it sent (Journal::kRead, kReadLate), each one
  /// datagram of the journal's native protocol, in the order received.
  std::vector<std::string> journal;
};

struct ChildOptions {
  /// Set in the child's environment, on top of the parent's.
  std::vector<std::pair<std::string, std::string>> env;
  /// Runs the child in a mount namespace of its own where /run/systemd is an
  /// empty tmpfs: no journal socket at all (libsystemd then drops entries
  /// silently), or a socket file that no journal listens on (sending fails).
  ///
  /// Or a socket bound there and read by a helper process into
  /// ChildResult::journal, at once (kRead) or only from `late` on (kReadLate:
  /// a journal that nobody reads for a while). Once the helper has read all
  /// there was, it creates kJournalDrained, so the child can tell.
  enum class Journal { kAsIs, kAbsent, kNotListening, kRead, kReadLate };
  Journal journal = Journal::kAsIs;
  /// Standard output read as it comes (kRead), only from `late` on
  /// (kReadLate: a pipe that nobody reads for a while), or with its reader
  /// gone before the child starts (kNoReader).
  enum class Output { kRead, kReadLate, kNoReader };
  Output output = Output::kRead;
  int late_ms = 3000;
};

/// Created in the child's mount namespace once the journal has been read dry.
inline constexpr const char* kJournalDrained = "/run/systemd/journal/drained";

/// Exit code of a child that could not set up its mount namespace (no
/// privilege for unshare or mount); the caller skips its test then.
inline constexpr int kNoNamespaceExit = 77;

/// Runs `program` with `args`, collecting both output streams until it ends.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options = {});

/// `text` split at "\n"; a final line without "\n" is kept too.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace vorn_io_test
