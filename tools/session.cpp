#include "tools/session.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "tools/exit_codes.h"

namespace vorn_io::tool {
namespace {

// A closed terminal or SSH session (SIGHUP) is the common way a tool on a
// robot is stopped; each of these would otherwise end or stop the process
// with the motor enabled. SIGPIPE, last, is ignored: output piped into `head`
// must not kill the process before the device is shut down.
constexpr std::array<int, 8> kTakenOver{SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGTERM, SIGTSTP, SIGPIPE};

std::atomic<int> g_received{0};
int g_pipe[2] = {-1, -1};
std::array<struct sigaction, kTakenOver.size()> g_previous{};  // what each did before
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int number) {
  const int saved_errno = errno;
  int expected = 0;
  g_received.compare_exchange_strong(expected, number);
  const char byte = 1;
  static_cast<void>(write(g_pipe[1], &byte, 1));  // a full pipe wakes the loop all the same
  errno = saved_errno;
}

}  // namespace

Session::Session(bool show_progress, bool library_lines)
    : show_progress_(show_progress), library_lines_(library_lines) {
  const char* term = std::getenv("TERM");  // NOLINT(concurrency-mt-unsafe)
  bar_ = show_progress && isatty(STDOUT_FILENO) != 0 && (term == nullptr || std::string(term) != "dumb");
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("cannot create the signal pipe");
  }
  g_received.store(0);
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the library's blocking calls go on; the loop's poll() returns early
  for (std::size_t i = 0; i < kTakenOver.size(); ++i) {
    action.sa_handler = kTakenOver[i] == SIGPIPE ? SIG_IGN : OnStopSignal;
    if (sigaction(kTakenOver[i], nullptr, &g_previous[i]) != 0 || (g_previous[i].sa_flags & SA_SIGINFO) != 0 ||
        g_previous[i].sa_handler != SIG_IGN) {
      sigaction(kTakenOver[i], &action, nullptr);
    }
  }
}

Session::~Session() {
  device_.reset();
  for (std::size_t i = 0; i < kTakenOver.size(); ++i) {
    sigaction(kTakenOver[i], &g_previous[i], nullptr);
  }
  close(g_pipe[0]);
  close(g_pipe[1]);
}

int Session::Signal() const { return g_received.load(); }

int Session::Sleep(std::chrono::milliseconds timeout) const {
  pollfd watched{g_pipe[0], POLLIN, 0};
  char bytes[64];
  const ssize_t got =
      poll(&watched, 1, static_cast<int>(timeout.count())) > 0 ? read(g_pipe[0], bytes, sizeof bytes) : 0;
  return static_cast<int>(std::max<ssize_t>(got, 0));
}

std::optional<double> Session::Await(std::chrono::milliseconds period, double timeout_seconds,
                                     const std::function<bool(double)>& poll) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const auto elapsed = [start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  while (Signal() == 0 && elapsed() < timeout_seconds) {
    if (poll(elapsed())) {
      Pump();
      return elapsed();
    }
    Sleep(period);
  }
  return std::nullopt;
}

int Session::Finish(int code, const std::string& out, const std::string& err) {
  Status({});
  const int signal = Signal();
  if (signal != 0) {
    Say(fmt::format("vorn-io: SIG{} received, shutting the device down\n", sigabbrev_np(signal)));
  }
  std::string result = signal != 0 ? "" : out;
  if (device_) {
    Sleep(std::chrono::milliseconds(0));  // the signals that ended the run
    // Destroyed in a thread of its own, so that the loop here answers the
    // signals that arrive meanwhile: they cannot make it go faster, and the
    // person pressing Ctrl-C again learns why nothing happens.
    std::atomic<bool> gone{false};
    std::thread shutdown([this, &gone] {
      device_.reset();
      gone = true;
    });
    while (!gone) {
      if (Sleep(std::chrono::milliseconds(10)) > 0) {
        Warn(
            "vorn-io: still shutting the device down (parking and disabling the motor); the tool exits when it is "
            "done\n");
      }
      Pump();
    }
    shutdown.join();
    result = "vorn-io: " + released_ + "\n" + result;
  }
  const bool written = Say(result);
  if (signal != 0) {
    return ExitCodeOfSignal(signal);
  }
  Warn(err);
  if (!written) {
    Warn("vorn-io: cannot write to standard output: " + failure_ + "\n");
    return kOutputFailed;
  }
  return code;
}

}  // namespace vorn_io::tool
