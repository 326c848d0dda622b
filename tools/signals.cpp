#include "tools/signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace vorn_io::tool {
namespace {

std::atomic<int> g_received{0};
int g_pipe[2] = {-1, -1};

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int number) {
  int expected = 0;
  g_received.compare_exchange_strong(expected, number);
  const int saved_errno = errno;
  const char byte = 1;
  // A full pipe already wakes the loop; losing this byte is harmless.
  static_cast<void>(write(g_pipe[1], &byte, 1));
  errno = saved_errno;
}

void Install(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Restart the library's and the relay's blocking calls; the loop's poll()
  // returns early on its own.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

StopSignals::StopSignals() {
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("cannot create the signal pipe");
  }
  Install(OnStopSignal);
  // Output piped into `head` must not kill the process before the device is
  // shut down: a closed pipe then fails the write instead.
  std::signal(SIGPIPE, SIG_IGN);
}

StopSignals::~StopSignals() {
  Install(SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
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

}  // namespace vorn_io::tool
