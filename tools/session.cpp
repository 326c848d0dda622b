// A session: the stop signals, the device's life, and every line of a move
// command, bounded.
#include "tools/session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

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
  [[maybe_unused]] const ssize_t woken = write(g_pipe[1], &byte, 1);  // a full pipe wakes the loop all the same
  errno = saved_errno;
}

constexpr double kParkSeconds = std::chrono::duration<double>(UpdownLifter::kParkWait).count();
constexpr const char* kWipeLine = "\r\033[K";
constexpr int kBarWidth = 30;
constexpr long kPollsPerLine = 100;

int Width() {
  winsize size{};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 2 ? size.ws_col : 80;
}

/// "lifter [#######.............]  35%" in at most `columns`: the bar gives
/// up cells before the percentage is cut off.
std::string LifterBar(double fraction, int columns) {
  // The line without its cells: "lifter ", the brackets and " 100%".
  const int cells = std::clamp(columns - (7 + 2 + 5), 0, kBarWidth);
  const auto filled = static_cast<std::size_t>(std::floor(fraction * cells));
  return fmt::format("lifter [{}{}] {:3d}%", std::string(filled, '#'), std::string(cells - filled, '.'),
                     static_cast<int>(std::floor(fraction * 100.0)));
}

}  // namespace

Session::Session(bool show_progress, bool library_lines, bool to_stderr)
    : out_(to_stderr ? STDERR_FILENO : STDOUT_FILENO), show_progress_(show_progress), library_lines_(library_lines) {
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
  while (Signal() == 0 && elapsed() < timeout_seconds && hung_.empty()) {
    if (poll(elapsed())) {
      Pump();
      return hung_.empty() ? std::optional<double>(elapsed()) : std::nullopt;
    }
    Sleep(period);
  }
  return std::nullopt;
}

int Session::Finish(int code, const std::string& out, const std::string& err) {
  Status({});
  // The signals that ended the run, taken before it says so: one that comes
  // after that line is answered while the device shuts down.
  Sleep(std::chrono::milliseconds(0));
  const int signal = Signal();
  if (signal != 0) {
    Say(Line("SIG{} received, shutting the device down", sigabbrev_np(signal)));
  }
  std::string result = signal != 0 ? "" : out;
  std::string alarm = hung_;
  if (device_) {
    // Parked in a thread of its own, so that the loop here answers the
    // signals that arrive meanwhile: they cannot make it go faster, and the
    // person pressing Ctrl-C again learns why nothing happens.
    const std::optional<ParkOutcome> parked =
        hung_.empty() ? Bounded("the " + kind_ + "'s shutdown", kParkSeconds, false, park_) : std::nullopt;
    if (!parked) {
      device_.release();  // NOLINT: left to the call that still runs in it, never freed under it
      alarm = hung_;      // the shutdown's own
    } else {
      const std::string said =
          !parked->hadMotor             ? Line("{} released", kind_)
          : parked->hungCall != nullptr ? Line(
                                              "the motor call {} has not returned (the motor library hangs); the motor "
                                              "could not be parked and may still be enabled",
                                              parked->hungCall)
          : !parked->disableConfirmed ? Line(
                                            "the motor did not confirm its disable (the lines above say why); it may "
                                            "still be enabled")
          : parked->held ? Line("motor parked and disabled")
                         : Line("{} motor disabled and released", kind_);
      if (parked->motorMayBeEnabled()) {
        alarm = said;
      } else {
        result = said + result;
      }
    }
  }
  const bool written = Say(result);
  Warn(alarm);
  const bool told = signal == 0 && alarm.empty();  // what else went wrong is told only then
  Warn(told ? err + (written ? "" : Line("cannot write to standard output: {}", failure_)) : "");
  const int ended = signal != 0      ? ExitCodeOfSignal(signal)
                    : !alarm.empty() ? kMayBeEnabled
                    : !written       ? kOutputFailed
                                     : code;
  if (at_end) {
    at_end(ended);
  }
  device_.reset();
  return ended;
}

bool Session::Pump() {
  std::string text;
  long lines = 0;
  for (; listener_.Next(line_); ++lines) {
    text.append(line_.text).push_back('\n');
  }
  if (!library_lines_ || lines == 0) {
    return false;
  }
  Emit(std::move(text), lines, false);
  return true;
}

bool Session::Say(const std::string& text, bool wait) {
  Pump();
  return Emit(text, static_cast<long>(std::count(text.begin(), text.end(), '\n')), wait);
}

void Session::Warn(const std::string& text) {
  Status({});
  Write(err_, text, true);
}

bool Session::Emit(std::string text, long lines, bool wait) {
  const std::string lost =
      dropped_ > 0 ? Line("{} lines dropped: standard output did not take them in time", dropped_) : "";
  text = (status_drawn_ ? kWipeLine : "") + lost + text + (status_.empty() ? "" : kWipeLine + status_);
  // After a loss only the tool's own lines wait, until standard output takes text again.
  if (!Write(out_, text, wait || dropped_ == 0)) {
    dropped_ += lines;
    return false;
  }
  dropped_ = 0;
  status_drawn_ = !status_.empty();
  return true;
}

bool Session::Write(quorvane::BoundedWriter& output, const std::string& text, bool wait) {
  errno = 0;
  if (output.Write(text, std::chrono::milliseconds(quorvane::Logger::kStallBoundMs), wait) ==
      quorvane::BoundedWriter::Result::kWritten) {
    return true;
  }
  const bool stalled = errno == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
  failure_ = &output != &out_ ? failure_
             : stalled        ? "it did not take the text in time"
                              : std::strerror(errno);  // NOLINT
  return false;
}

void Session::Status(const std::string& line) {
  // Drawn wider than the terminal, the line would wrap and "\r" could not wipe it.
  const std::string shown = line.substr(0, static_cast<std::size_t>(std::max(Width() - 1, 0)));
  if (shown == status_) {
    Pump();
    return;
  }
  status_ = shown;
  // Drawn below the lines that came meanwhile; a status line the terminal did
  // not take is simply not on the screen.
  if (!Pump()) {
    status_drawn_ = Write(out_, kWipeLine + status_, dropped_ == 0) && !status_.empty();
  }
}

void Session::Progress(long step, const std::string& bar, const std::string& line) {
  if (show_progress_ && bar_) {
    Status(bar);
  } else if (show_progress_ && step > printed_) {
    printed_ = step;
    Say(line, false);
  } else {
    Pump();
  }
}

void Session::Ramp(const UpdownLifter::MoveProgress& progress, double move_seconds) {
  // The share of the ramp done, by the lifter's own ticks: a process stopped
  // for a while (Ctrl-Z, SIGSTOP) shows where the lifter is, not how much time
  // has passed. The move itself ends when the lifter says so, so the display
  // stops short of 100% until then.
  const double done =
      progress.ticksTotal > 0 ? static_cast<double>(progress.ticksDone) / static_cast<double>(progress.ticksTotal) : 0;
  const double shown = std::clamp(done, 0.0, 0.99);
  const long tenths = static_cast<long>(std::floor(shown * 10.0));
  const std::string left = fmt::format("about {:.1f} s left", std::max((1.0 - done) * move_seconds, 0.0));
  Progress(tenths, LifterBar(shown, Width() - 3 - static_cast<int>(left.size())) + "  " + left,
           Line("progress {:3d}%, {}", tenths * 10, left));
}

void Session::Settling(long polls, double seconds) {
  Progress(polls / kPollsPerLine - 1,
           fmt::format("gripper settling {}  {} polls, {:.1f} s", "|/-\\"[(polls / 10) % 4], polls, seconds),
           Line("settling, {} polls, {:.1f} s", polls - polls % kPollsPerLine, seconds));
}

void Session::RampDone() {
  Status({});
  if (show_progress_) {
    Say(bar_ ? LifterBar(1.0, Width() - 1) + "\n" : "vorn-io: progress 100%\n", false);
  }
}

}  // namespace vorn_io::tool
