#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace vorn_io_test {

using Env = std::vector<std::pair<std::string, std::string>>;

/// How a child program ended and what it wrote.
struct ChildResult {
  bool exited = false;  ///< ended through exit(), not a signal
  int exit_code = -1;   ///< valid when `exited`
  int signal = 0;       ///< the signal that ended it, else 0
  std::string out;      ///< its standard output (with `merge_stderr`, both streams)
  std::string err;      ///< its standard error, unless merged
  /// The journal entries it sent (Journal::kRead, kReadLate), each one
  /// datagram of the journal's native protocol, in the order received.
  std::vector<std::string> journal;
  /// The exit code, 128 + the signal that ended it, or -1 if it was killed for taking too long.
  int code = -1;
};

struct ChildOptions {
  /// Set in the child's environment, on top of the parent's.
  Env env;
  /// Inherited variables whose names start so are left out of the child's environment.
  std::vector<std::string> dropped_prefixes;
  /// Reach the child ignored, as `nohup` or a script's `cmd &` leave them.
  std::vector<int> ignored;
  /// Standard error goes where standard output goes (a pseudo-terminal always merges).
  bool merge_stderr = false;
  /// Standard output and error on a pseudo-terminal instead of pipes.
  bool on_terminal = false;
  /// A file (such as /dev/null or /dev/full) that standard output goes to instead.
  std::string stdout_to;
  /// A file that standard input comes from instead of this process's.
  std::string stdin_from;
  /// Standard output and error closed, as `>&- 2>&-` leave them.
  bool closed_outputs = false;
  /// With `on_terminal`: run as a shell with job control runs `program &` on a
  /// terminal set to stop background writers (`stty tostop`). The child then
  /// is that shell, reporting the job as a shell does: its exit code, or 128 +
  /// the signal that ended or stopped it (a stopped job is killed).
  bool background = false;
  /// The address space the child may use, in MiB (RLIMIT_AS); 0: no limit.
  unsigned long memory_mib = 0;
  /// Runs the child in a mount namespace of its own where /run/systemd is an
  /// empty tmpfs: no journal socket at all (libsystemd then drops entries
  /// silently), or a socket file that no journal listens on (sending fails).
  ///
  /// Or a socket bound there and read by a helper process into
  /// ChildResult::journal, at once (kRead) or only from `late` on (kReadLate:
  /// a journal that nobody reads for a while). Once the helper has read all
  /// there was, it creates kJournalDrained, so the child can tell. With
  /// kRecreated the helper, having read the first entry, closes its socket
  /// and binds a new one at the same path, as a restarted journal does, and
  /// then creates kJournalRecreated.
  enum class Journal { kAsIs, kAbsent, kNotListening, kRead, kReadLate, kRecreated };
  Journal journal = Journal::kAsIs;
  /// Standard output read as it comes (kRead), only from `late` on
  /// (kReadLate: a pipe that nobody reads for a while), or with its reader
  /// gone before the child starts (kNoReader).
  enum class Output { kRead, kReadLate, kNoReader };
  Output output = Output::kRead;
  /// A late reader reads from then on, or from the child's end if that comes first.
  int late_ms = 3000;
  /// Standard output's pipe holds this many bytes (0: 1 MiB when read as it
  /// comes, else the system's size), so that a small one fills early.
  int pipe_bytes = 0;
};

/// Created in the child's mount namespace once the journal has been read dry.
inline constexpr const char* kJournalDrained = "/run/systemd/journal/drained";
/// Created in the child's mount namespace once the journal socket has been made anew (Journal::kRecreated).
inline constexpr const char* kJournalRecreated = "/run/systemd/journal/recreated";

/// Exit code of a child that could not set up its mount namespace (no
/// privilege for unshare or mount); the caller skips its test then.
inline constexpr int kNoNamespaceExit = 77;

/// A program running in a child process, its output collected as it comes.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options = {});
  /// Kills the child if it still runs.
  ~ChildProcess();

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess(ChildProcess&&) = delete;
  ChildProcess& operator=(ChildProcess&&) = delete;

  /// Reads until the output contains `text`; false if the deadline passed or the output ended first.
  bool WaitForOutput(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(60));

  void Signal(int number) const;

  /// Gives the pseudo-terminal this many columns, as a resized window would.
  void Resize(unsigned short columns) const;

  /// Reads to the end and reaps the child: ChildResult::code (on a time-out the child is killed).
  int Wait(std::chrono::seconds timeout = std::chrono::seconds(120));

  const std::string& output() const { return result_.out; }
  const ChildResult& result() const { return result_; }

 private:
  struct Stream {
    int fd;
    std::string* text;
  };
  bool ReadSome(std::chrono::steady_clock::time_point deadline);
  /// Reaps the child if it has ended, filling in the result; true then (and once reaped).
  bool Reap();

  pid_t pid_ = -1;
  int terminal_ = -1;
  std::chrono::steady_clock::time_point read_out_from_;
  std::vector<Stream> streams_;
  std::string journal_copy_;
  ChildResult result_;
};

/// Runs `program` with `args`, collecting its output until it ends (or is
/// killed after four minutes, well before the test's own time-out).
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options = {});

/// `text` split at "\n"; a final line without "\n" is kept too.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace vorn_io_test
