#include "tools/signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

namespace vorn_io::tool {
namespace {

// A closed terminal or SSH session (SIGHUP) is the common way a tool on a
// robot is stopped; each of these would otherwise end or stop the process
// with the motor enabled.
constexpr std::array<int, 7> kStopSignals{SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGTERM, SIGTSTP};

std::atomic<int> g_received{0};
int g_pipe[2] = {-1, -1};
// What each stop signal, and SIGPIPE last, did before the tool took it over.
std::array<struct sigaction, kStopSignals.size() + 1> g_previous{};

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int number) {
  const int saved_errno = errno;
  int expected = 0;
  g_received.compare_exchange_strong(expected, number);
  const char byte = 1;
  // A full pipe already wakes the loop; losing this byte is harmless.
  static_cast<void>(write(g_pipe[1], &byte, 1));
  errno = saved_errno;
}

}  // namespace

StopSignals::StopSignals() {
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("cannot create the signal pipe");
  }
  g_received.store(0);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Restart the library's blocking calls; the loop's poll() returns early on its own.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    struct sigaction& previous = g_previous[i];
    const bool ignored = sigaction(kStopSignals[i], nullptr, &previous) == 0 && (previous.sa_flags & SA_SIGINFO) == 0 &&
                         previous.sa_handler == SIG_IGN;
    if (!ignored) {
      sigaction(kStopSignals[i], &action, nullptr);
    }
  }
  // Output piped into `head` must not kill the process before the device is
  // shut down: a closed pipe then fails the write instead.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &g_previous.back());
}

StopSignals::~StopSignals() {
  // An ignored signal's previous disposition is the one it still has.
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    sigaction(kStopSignals[i], &g_previous[i], nullptr);
  }
  sigaction(SIGPIPE, &g_previous.back(), nullptr);
  close(g_pipe[0]);
  close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

int StopSignals::Received() const { return g_received.load(); }

int StopSignals::WaitFor(std::chrono::milliseconds timeout) const {
  pollfd watched{g_pipe[0], POLLIN, 0};
  char bytes[64];
  const ssize_t got =
      poll(&watched, 1, static_cast<int>(timeout.count())) > 0 ? read(g_pipe[0], bytes, sizeof bytes) : 0;
  return static_cast<int>(std::max<ssize_t>(got, 0));
}

std::string StopSignalName(int number) {
  const bool stop = std::find(kStopSignals.begin(), kStopSignals.end(), number) != kStopSignals.end();
  return stop ? std::string("SIG") + sigabbrev_np(number) : "signal";
}

}  // namespace vorn_io::tool
