#include "tools/signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <stdexcept>

namespace vorn_io::tool {
namespace {

struct StopSignal {
  int number;
  const char* name;
};

// A closed terminal or SSH session (SIGHUP) is the common way a tool on a
// robot is stopped; each of these would otherwise end the process with the
// motor enabled.
constexpr std::array<StopSignal, 6> kStopSignals{{
    {SIGHUP, "SIGHUP"},
    {SIGINT, "SIGINT"},
    {SIGQUIT, "SIGQUIT"},
    {SIGUSR1, "SIGUSR1"},
    {SIGUSR2, "SIGUSR2"},
    {SIGTERM, "SIGTERM"},
}};

constexpr char kStillShuttingDown[] =
    "vorn-io: still shutting the device down (parking and disabling the motor); the tool exits when it is done\n";

std::atomic<int> g_received{0};
std::atomic<bool> g_shutting_down{false};
int g_pipe[2] = {-1, -1};
// What each stop signal did before the tool took it over; restored at the end.
std::array<struct sigaction, kStopSignals.size()> g_previous{};
std::array<bool, kStopSignals.size()> g_installed{};
struct sigaction g_previous_sigpipe {};

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int number) {
  const int saved_errno = errno;
  int expected = 0;
  const bool first = g_received.compare_exchange_strong(expected, number);
  // Only the loop can act on a signal, and it is busy with the shutdown
  // already: the person pressing Ctrl-C again learns why nothing happens.
  if (!first || g_shutting_down.load()) {
    static_cast<void>(write(STDERR_FILENO, kStillShuttingDown, sizeof kStillShuttingDown - 1));
  }
  const char byte = 1;
  // A full pipe already wakes the loop; losing this byte is harmless.
  static_cast<void>(write(g_pipe[1], &byte, 1));
  errno = saved_errno;
}

bool WasIgnored(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

void InstallHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // One handler at a time, so each line on standard error comes out whole.
  for (const StopSignal& stop : kStopSignals) {
    sigaddset(&action.sa_mask, stop.number);
  }
  // Restart the library's and the relay's blocking calls; the loop's poll()
  // returns early on its own.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    g_installed[i] = false;
    if (sigaction(kStopSignals[i].number, nullptr, &g_previous[i]) != 0 || WasIgnored(g_previous[i])) {
      continue;
    }
    g_installed[i] = sigaction(kStopSignals[i].number, &action, nullptr) == 0;
  }
}

void RestoreHandlers() {
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    if (g_installed[i]) {
      sigaction(kStopSignals[i].number, &g_previous[i], nullptr);
      g_installed[i] = false;
    }
  }
}

}  // namespace

StopSignals::StopSignals() {
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("cannot create the signal pipe");
  }
  g_received.store(0);
  g_shutting_down.store(false);
  InstallHandlers();
  // Output piped into `head` must not kill the process before the device is
  // shut down: a closed pipe then fails the write instead.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &g_previous_sigpipe);
}

StopSignals::~StopSignals() {
  RestoreHandlers();
  sigaction(SIGPIPE, &g_previous_sigpipe, nullptr);
  close(g_pipe[0]);
  close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

int StopSignals::Received() const { return g_received.load(); }

void StopSignals::WaitFor(std::chrono::milliseconds timeout) const {
  if (Received() != 0) {
    return;
  }
  pollfd watched{g_pipe[0], POLLIN, 0};
  static_cast<void>(poll(&watched, 1, static_cast<int>(timeout.count())));
}

void StopSignals::ShuttingDown() { g_shutting_down.store(true); }

const char* StopSignalName(int number) {
  for (const StopSignal& stop : kStopSignals) {
    if (stop.number == number) {
      return stop.name;
    }
  }
  return "signal";
}

}  // namespace vorn_io::tool
